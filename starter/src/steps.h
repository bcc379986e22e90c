// Start-up steps for user data, start screen and packages, called once each
// by wWinMain in this order. Each reads and writes the StarterContext.
#pragma once

#include <windows.h>

#include "section.h"

// Step 5, after productLabel is built: sets userDataFolder, commonDataFolder
// and userCfg (<userDataFolder>\Config\cfg.ini). (userdata.cpp)
void determineDataFolders();

// Step 10: called only when productKey opened for reading under
// HKEY_CURRENT_USER and no registration run is asked for. Consumes
// "JustUpgraded" with the upgrade prompt and marks the profiles.
// (userdata.cpp)
void handleUpgrade();

// Step 12, not in unregistration runs: prepares the start-screen profile,
// updates its ini.xml and starts the start screen. Returns the thread id of
// its main thread, 0 when none was started. (startscreen.cpp, with
// paramfile.cpp for ini.xml)
DWORD startStartScreen();

// Step 13, when the user data is due or in unregistration runs: copies (or,
// with remove, removes) the installed user data and updates "UserDataDir".
// (datacopy.cpp)
void provisionUserDataStep(bool remove);

// Step 14, when packageFile ends in ".package": installs (or, with remove,
// removes) the package. (datacopy.cpp)
void installPackageStep(bool remove);

// Section reader, also used for "\SelfRegModules" and "\PreLoadedModules":
// calls action(key, value, ctx) for each entry of the section in file order;
// entries beginning with "@=" are skipped. False only when the buffer cannot
// be allocated. (datacopy.cpp)
bool readSection(const wchar_t *file, const wchar_t *section, SectionAction action, void *ctx);
