// Environment set-up before anything is loaded, and the platform folder.
#pragma once

#include <stddef.h>

// Fills installCfg, mainModuleName, oemModulePath and moduleSearchPath of the
// context, puts the search path into PATH and "KX_WI_DIR_TREE", checks the
// display (fatal report 14 for 16 colours or fewer). Needs starterPath.
void setupEnvironment();

// Replaces "%5" in moduleSearchPath by the platform folder chosen by
// -b, the user's cfg.ini or the installation's default, updates PATH,
// "KX_WI_DIR_TREE" and "KX_ADD_PATH". Fatal report 15 when no usable
// platform is configured.
void resolvePlatform();

// The value of an environment variable, read completely. Null when it is not
// set; free with freeText.
wchar_t *readEnvironment(const wchar_t *name);

// Searches name along the path list (SearchPathW); copies the full path into
// out when found, else name itself. Both cut to fit.
void searchModule(const wchar_t *pathList, const wchar_t *name, wchar_t *out, size_t capacity);
