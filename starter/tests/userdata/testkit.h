// Small test kit for the starter's user-data code: checks, a scratch folder
// and file helpers. Runs as a Windows program (under wine on Linux).
#pragma once

#include <windows.h>

#include <string>

namespace testkit {

extern int failures;
extern int checks;

void fail(const char *file, int line, const char *what);
std::wstring scratch(const wchar_t *name);     // fresh empty folder under the scratch root
std::wstring join(const std::wstring &a, const std::wstring &b);
void writeFile(const std::wstring &path, const std::string &content);
std::string readFile(const std::wstring &path); // "<missing>" when it cannot be read
bool exists(const std::wstring &path);
void makeDirs(const std::wstring &path);
void setTime(const std::wstring &path, int minutesAgo);
std::string narrow(const std::wstring &w);

// Registry helpers below HKEY_CURRENT_USER.
void regSet(const wchar_t *key, const wchar_t *name, const wchar_t *value);
bool regGet(const wchar_t *key, const wchar_t *name, std::wstring *value);
void regDeleteTree(const wchar_t *key);

typedef void (*TestFn)();
struct Registrar { Registrar(const char *group, TestFn fn); };

} // namespace testkit

#define CHECK(cond) \
    do { ++testkit::checks; if (!(cond)) testkit::fail(__FILE__, __LINE__, #cond); } while (0)
#define CHECK_EQ_STR(a, b) \
    do { ++testkit::checks; if (std::string(a) != std::string(b)) { \
        testkit::fail(__FILE__, __LINE__, (std::string(#a " == " #b "  got '") + std::string(a) + "' vs '" + std::string(b) + "'").c_str()); } } while (0)
#define TEST_GROUP(name) \
    static void name(); static testkit::Registrar reg_##name(#name, name); static void name()
