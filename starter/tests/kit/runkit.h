// Test kit for whole runs of the starter: checks, fake installations, running
// a starter under the test's control and reading what test modules recorded.
// Runs as a Windows program (under wine on Linux).
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <vector>

namespace runkit {

// ---- checks ----
extern int failures;
void fail(const char *file, int line, const std::string &what);
typedef void (*TestFn)();
struct Registrar { Registrar(const char *name, TestFn fn); };
// Runs the group named argv[1] (all groups without argument); returns the
// process exit code.
int runGroups(int argc, wchar_t **argv);

// ---- text ----
std::string narrow(const std::wstring &w);   // UTF-8
std::wstring widen(const std::string &s);    // from UTF-8
// A path given on the command line: Unix paths ("/x/y") become "Z:\x\y".
std::wstring windowsPath(const std::wstring &path);

// ---- files ----
std::wstring join(const std::wstring &a, const std::wstring &b);
// A fresh, empty folder below the temporary folder (removed first if present).
std::wstring scratch(const std::wstring &name);
void makeDirs(const std::wstring &path);
void removeTree(const std::wstring &path);
void writeFile(const std::wstring &path, const std::string &content);
std::string readFile(const std::wstring &path);   // "" when missing
bool exists(const std::wstring &path);
void copyFile(const std::wstring &from, const std::wstring &to);

// ---- a fake installation ----
struct Installation {
    std::wstring root;      // scratch folder
    std::wstring bin;       // root\bin: the starter lives here
    std::wstring starter;   // bin\<name>.exe
    std::wstring record;    // root\record.txt
    std::wstring config;    // installation configuration file
};
// Copies the starter program into <scratch>\bin under exeName. The
// configuration file is bin\<exeName without .exe>.ini.
Installation makeInstallation(const std::wstring &name, const std::wstring &starterExe,
                              const std::wstring &exeName = L"Meridane.exe");

// ---- runs ----
struct RunResult {
    DWORD exitCode = 0xFFFFFFFF;
    bool timedOut = false;
    std::string output;                   // standard output
    std::vector<std::string> debugLines;  // debugger output, with debugOutput
    std::vector<std::string> record;      // lines of the record file
    // Value of the first record line "key=..." ("<none>" when absent).
    std::string value(const std::string &key) const;
    bool has(const std::string &line) const;
    int indexOf(const std::string &line) const;   // -1 when absent
    std::vector<std::string> matching(const std::string &prefix) const;
};
struct RunOptions {
    std::vector<std::wstring> args;            // each quoted by the system rules
    std::map<std::wstring, std::wstring> env;  // added to (or replacing in) the kit's environment
    std::vector<std::wstring> unsetEnv;
    std::wstring rawCommandTail;               // used instead of args when not empty
    bool debugOutput = false;                  // run as debugger, collect OutputDebugString
    DWORD timeoutMs = 60000;
};
// Runs inst.starter with MT_RECORD = inst.record (the record file is emptied
// first) and standard output into a file.
RunResult run(const Installation &inst, const RunOptions &options);

std::wstring quoteArgument(const std::wstring &arg);

} // namespace runkit

#define CHECK(cond) \
    do { if (!(cond)) runkit::fail(__FILE__, __LINE__, #cond); } while (0)
#define CHECK_EQ(a, b) \
    do { std::string va_ = (a), vb_ = (b); if (va_ != vb_) runkit::fail(__FILE__, __LINE__, \
        std::string(#a " == " #b "\n      got:      [") + va_ + "]\n      expected: [" + vb_ + "]"); } while (0)
#define TEST_GROUP(name) \
    static void name(); static runkit::Registrar reg_##name(#name, name); static void name()
