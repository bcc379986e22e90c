// Buffer sizes and the values the command line yields. Plain text types
// only, so the command-line code builds without the platform headers.
#pragma once

// Buffer sizes, in characters with the terminating zero.
enum {
    kStarterPath = 260,        // paths, switch values, names
    kStarterLongPath = 520,    // main module path, catalogue path
    kStarterSearchPath = 3120, // moduleSearchPath
    kStarterPathList = 8320    // PATH, templates, expanded search path
};

// Flag switches: each set by an argument that begins with one of its texts.
struct StarterFlags {
    bool registerRun;
    bool unregisterRun;
    bool stopForConnect;
    bool profiler;
    bool reserve4GB;
};

// Values of the switches -p, -r, -b, -a and -g.
struct StarterSwitches {
    wchar_t profileName[kStarterPath];   // -p
    wchar_t configName[kStarterPath];    // -r
    wchar_t platformName[kStarterPath];  // -b
    wchar_t ddeAppName[kStarterPath];    // -a (empty when not given)
    wchar_t packageFile[kStarterPath];   // -g
};
