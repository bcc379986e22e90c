// Values of the starter that one start-up step sets once and later steps read.
#pragma once

#include <windows.h>

#include "switches.h"

// Product identity object returned by new_IOemInfo of the OEM-information
// module. Only the slots named here are called; the others keep their places
// in the table. No destructor, so the table layout is the same with every
// Windows C++ compiler.
struct IOemInfo {
    virtual void slot0() = 0;
    virtual void Release() = 0;                         // 1: last call on the object
    virtual void slot2() = 0;
    virtual const wchar_t *GetProductName() = 0;        // 3
    virtual void slot4() = 0;
    virtual void slot5() = 0;
    virtual void Finish() = 0;                          // 6: called right before Release
    virtual unsigned int GetVersion() = 0;              // 7: low word first, high word second number
    virtual void slot8() = 0;
    virtual void slot9() = 0;
    virtual const wchar_t *GetUserName() = 0;           // 10
    virtual const wchar_t *GetUserCompany() = 0;        // 11
    virtual void slot12() = 0;
    virtual void slot13() = 0;
    virtual void slot14() = 0;
    virtual void slot15() = 0;
    virtual void slot16() = 0;
    virtual const wchar_t *GetVendorName() = 0;         // 17
};
typedef IOemInfo *(*NewOemInfoFn)();

struct StarterContext {
    HINSTANCE instance;
    int showCommand;

    // The process arguments as the system splits them (argv[0] is the
    // program), kept until the switches are read; argc 0 when unavailable.
    int argc;
    wchar_t **argv;
    // Arguments after the program path, each quoted so that the system's
    // splitting gives it back unchanged, and a blank; never null once built
    // (empty text without arguments).
    wchar_t *commandLine;
    size_t commandLineCapacity;        // characters, terminating zero included

    StarterFlags flags;
    StarterSwitches switches;

    wchar_t starterPath[kStarterPath];   // full path of the starter
    wchar_t starterFolder[kStarterPath]; // without trailing backslash
    wchar_t installCfg[kStarterPath];
    wchar_t userCfg[kStarterPath];       // <userDataFolder>\Config\cfg.ini
    wchar_t mainModuleName[kStarterPath];
    wchar_t oemModulePath[kStarterPath];
    wchar_t moduleSearchPath[kStarterSearchPath];
    wchar_t mainModulePath[kStarterLongPath];
    wchar_t catalogPath[kStarterLongPath];  // main module path with ".wld"

    IOemInfo *oem;
    HMODULE oemModule;
    wchar_t productLabel[kStarterPath];  // "<product> <first>.<second>"
    wchar_t versionText[32];             // "<first>.<second>"
    wchar_t productKey[kStarterPath];    // SOFTWARE\<vendor>\<product>\<first>.<second>

    wchar_t userDataFolder[kStarterPath];
    wchar_t commonDataFolder[kStarterPath];

    bool userDataDue;                    // stored UserDataDir differs from userDataFolder
    DWORD startScreenThreadId;           // 0 when no start screen runs
};

// The one context of the process.
StarterContext &starter();

// Shows the fatal-error box (string 11, string messageId and, with
// suggestReinstall, string 12), writes the text to standard output and ends
// the process with exit code 255. Never returns.
[[noreturn]] void reportFatal(UINT messageId, bool suggestReinstall);

// Bounded text helpers: the result is always terminated and cut to fit.
// They return false when the text had to be cut.
bool copyText(wchar_t *out, size_t capacity, const wchar_t *text);
bool appendText(wchar_t *out, size_t capacity, const wchar_t *text);
bool formatText(wchar_t *out, size_t capacity, const wchar_t *format, ...);
