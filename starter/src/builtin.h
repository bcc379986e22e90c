// The four settings fixed when the starter is built.
#pragma once

#include <stddef.h>

enum BuiltinSetting {
    kConfigFileSetting = 0,  // installation configuration file name, "*" = <starter>.ini
    kMainModuleSetting = 1,  // main module name, "*" = <starter>.dll
    kSearchPathSetting = 2,  // search path template, "*" = string resource 1
    kOemModuleSetting = 3    // OEM-information module name
};

// Decodes every setting and checks it. False when one of them does not pass
// its check.
bool loadBuiltinSettings();

// The decoded text of a setting (at most 255 characters); empty before
// loadBuiltinSettings succeeded.
const wchar_t *builtinSetting(BuiltinSetting which);
