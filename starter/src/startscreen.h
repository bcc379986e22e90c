// The start-screen program: its profile folder and its launch.
#pragma once

#include <windows.h>

#include "paramfile.h"

// Replaces each of the characters < > / \ " : ; ? * | , = ` with '$'. A name
// left as only dots and blanks ("." or "..") has those replaced too, so the
// profile folder always lies inside the profiles folder.
void safeProfileName(const wchar_t *profile, wchar_t *out, size_t cap);

// Prepares the profile folder, updates its ini.xml and starts the program
// (searched as "qzstartscreenqt.exe"). The new process's main thread id, 0
// when none was created.
DWORD launchStartScreen(const StartScreenRecord &record);
