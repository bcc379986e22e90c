// Fake installations for whole runs of the starter.
#pragma once

#include "runkit.h"

#include <string>

namespace fixture {

// Build folder of the tests (as a Windows path).
std::wstring testBin();
// A test module built by the tests (modules\<name>.dll).
std::wstring module(const std::wstring &name);
// A starter variant: "std" (resource template %2;%5\bin;%1\lib), "nores" (no
// resource 1), "fixed" (install.cfg, app.dll, %2\bin;%5\bin).
std::wstring starterVariant(const std::wstring &variant);

// An installation with the starter variant in root\bin, testoem.dll and
// the recording main module (as Meridane.dll, unless mainName says
// otherwise; empty mainName: no main module).
runkit::Installation install(const std::wstring &name, const std::wstring &variant = L"std",
                             const std::wstring &mainName = L"Meridane.dll");

// Options with a vendor of its own (so user data folders do not meet) and
// no inherited test variables.
runkit::RunOptions options(const std::wstring &vendor);

// Roaming application data folder of the prefix, and the user's cfg.ini that
// the starter uses for the vendor (product "Stadia", version 25.0).
std::wstring appData();
std::wstring userCfg(const std::wstring &vendor);

// Reads key of section from an INI file ("<missing>" when absent).
std::string iniValue(const std::wstring &file, const std::wstring &section,
                     const std::wstring &key);

// The standard output with CR LF turned into LF.
std::string output(const runkit::RunResult &r);

} // namespace fixture
