// Command line: rebuilt argument text, switch values, flags, and the command
// line handed to the main module. Plain text code: argv is the process's
// arguments as the system splits them, argv[0] being the program.
#pragma once

#include <stddef.h>

#include "switches.h"

// Each argument after the first in double quotes, written so that the
// system's splitting (CommandLineToArgvW) gives it back unchanged, and a
// blank. Backslashes before an inner quote or the closing quote are doubled
// and inner quotes escaped; any other argument is written as a quote, the
// argument, a quote. capacity receives the buffer size in characters (the
// written length plus 1; sum of length + 3 over the arguments, plus 1, when
// nothing needed escaping). Null when it cannot be allocated; free with
// freeText.
wchar_t *rebuildCommandLine(int argc, wchar_t *const *argv, size_t *capacity);

// Fills the five switch values (-p -r -b -a -g, any case, '-' or '/') from
// the arguments after the first. Values longer than 259 characters are cut.
void tokeniseSwitches(int argc, wchar_t *const *argv, StarterSwitches *out);

// Sets the flags whose texts begin one of the arguments after the first.
void scanFlags(int argc, wchar_t *const *argv, StarterFlags *out);

// Rebuilt command line, a blank, /_KxIniFileName_: and the quoted path of
// the installation configuration file. Null when it cannot be allocated;
// free with freeText.
wchar_t *buildFinalCommandLine(const wchar_t *rebuilt, size_t rebuiltCapacity,
                               const wchar_t *installCfg);

void freeText(wchar_t *text);
