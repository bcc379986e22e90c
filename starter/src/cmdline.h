// Command line: rebuilt argument text, switch values, flags, and the command
// line handed to the main module.
#pragma once

#include "context.h"

// Each argument after the first as a double quote, the argument, a double
// quote and a blank. capacity receives the buffer size in characters (sum of
// length + 3 over the arguments, plus 1). Null when it cannot be allocated;
// free with freeText.
wchar_t *rebuildCommandLine(int argc, wchar_t *const *argv, size_t *capacity);

// Splits the process command line with the system's rules and rebuilds it.
wchar_t *rebuildProcessCommandLine(size_t *capacity);

// Fills the five switch values (-p -r -b -a -g, any case, '-' or '/') from
// the rebuilt command line. Values longer than 259 characters are cut.
void tokeniseSwitches(const wchar_t *commandLine, StarterSwitches *out);

// Sets the flags whose texts occur anywhere in the command line.
void scanFlags(const wchar_t *commandLine, StarterFlags *out);

// Rebuilt command line, a blank, /_KxIniFileName_: and the quoted path of
// the installation configuration file. Null when it cannot be allocated;
// free with freeText.
wchar_t *buildFinalCommandLine(const wchar_t *rebuilt, size_t rebuiltCapacity,
                               const wchar_t *installCfg);

void freeText(wchar_t *text);
