// libFuzzer target: arguments made of arbitrary UTF-16 code units (a zero
// unit separates them). Checks that the rebuilt command line fills its
// capacity exactly and that splitting it by the system's rules
// (CommandLineToArgvW, re-stated below for the text behind the program
// name) gives every argument back unchanged; that the final command line
// keeps the rebuilt text and the configuration switch; that switch values
// stay inside their buffers and come from the arguments; and that a flag is
// set exactly when an argument begins with one of its texts.

#include "cmdline.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

namespace {

void check(bool ok)
{
    if (!ok)
        __builtin_trap();
}

// CommandLineToArgvW's rules for the arguments after the program name:
// blanks and tabs separate outside quotes; 2n backslashes before a quote
// give n and the quote toggles quoting, 2n+1 give n and a literal quote;
// other backslashes are literal; "" inside quotes is a literal quote.
std::vector<std::wstring> splitArguments(const wchar_t *p)
{
    std::vector<std::wstring> out;
    for (;;) {
        while (*p == L' ' || *p == L'\t')
            ++p;
        if (!*p)
            return out;
        std::wstring arg;
        bool quoted = false;
        while (*p && (quoted || (*p != L' ' && *p != L'\t'))) {
            if (*p == L'\\') {
                size_t n = 0;
                while (*p == L'\\') {
                    ++n;
                    ++p;
                }
                if (*p == L'"') {
                    arg.append(n / 2, L'\\');
                    if (n % 2) {
                        arg += L'"';
                        ++p;
                    }
                } else {
                    arg.append(n, L'\\');
                }
            } else if (*p == L'"') {
                ++p;
                if (quoted && *p == L'"') {
                    arg += L'"';
                    ++p;
                } else {
                    quoted = !quoted;
                }
            } else {
                arg += *p++;
            }
        }
        out.push_back(arg);
    }
}

bool beginsWith(const std::wstring &s, const wchar_t *prefix)
{
    return s.compare(0, wcslen(prefix), prefix) == 0;
}

bool anyBeginsWith(const std::vector<std::wstring> &args, std::vector<const wchar_t *> texts)
{
    for (const std::wstring &a : args)
        for (const wchar_t *t : texts)
            if (beginsWith(a, t))
                return true;
    return false;
}

void checkValue(const wchar_t *value, const std::vector<std::wstring> &args)
{
    size_t len = wcsnlen(value, kStarterPath);
    check(len < kStarterPath);
    if (len == 0)
        return;
    for (const std::wstring &a : args)
        if (a.compare(0, len, value) == 0 && (len == a.size() || len == kStarterPath - 1))
            return;
    check(false);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::vector<std::wstring> args(1);
    for (size_t i = 0; i + 1 < size; i += 2) {
        wchar_t unit = static_cast<wchar_t>(data[i] | (data[i + 1] << 8));
        if (unit == 0)
            args.emplace_back();
        else
            args.back() += unit;
    }
    if (size == 0)
        args.clear();

    std::vector<wchar_t *> argv;
    std::wstring program = L"C:\\P\\Meridane.exe";
    argv.push_back(&program[0]);
    for (std::wstring &a : args)
        argv.push_back(&a[0]);
    int argc = static_cast<int>(argv.size());

    size_t capacity = 0;
    wchar_t *rebuilt = rebuildCommandLine(argc, argv.data(), &capacity);
    check(rebuilt != nullptr);
    check(wcslen(rebuilt) + 1 == capacity);
    check(splitArguments(rebuilt) == args);

    wchar_t *final = buildFinalCommandLine(rebuilt, capacity, L"C:\\P\\bin\\Meridane.ini");
    check(final != nullptr);
    std::wstring finalText(final);
    check(finalText == std::wstring(rebuilt) + L" /_KxIniFileName_:\"C:\\P\\bin\\Meridane.ini\"");
    std::vector<std::wstring> finalArgs = splitArguments(final);
    check(finalArgs.size() == args.size() + 1);
    check(finalArgs.back() == L"/_KxIniFileName_:C:\\P\\bin\\Meridane.ini");
    freeText(final);
    freeText(rebuilt);

    StarterSwitches s;
    wmemset(&s.profileName[0], L'#', sizeof s / sizeof(wchar_t));
    s.profileName[0] = s.configName[0] = s.platformName[0] = s.ddeAppName[0] = s.packageFile[0] = 0;
    tokeniseSwitches(argc, argv.data(), &s);
    checkValue(s.profileName, args);
    checkValue(s.configName, args);
    checkValue(s.platformName, args);
    checkValue(s.ddeAppName, args);
    checkValue(s.packageFile, args);

    StarterFlags f;
    scanFlags(argc, argv.data(), &f);
    check(f.registerRun == anyBeginsWith(args, {L"-register", L"-REGISTER", L"/register", L"/REGISTER"}));
    check(f.unregisterRun
          == anyBeginsWith(args, {L"-unregister", L"-UNREGISTER", L"/unregister", L"/UNREGISTER"}));
    check(f.stopForConnect == anyBeginsWith(args, {L"-stop_for_connect"}));
    check(f.profiler == anyBeginsWith(args, {L"-profiler"}));
    check(f.reserve4GB == anyBeginsWith(args, {L"/4GB"}));
    return 0;
}
