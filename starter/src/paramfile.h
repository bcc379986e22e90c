// The start screen's parameter file "ini.xml".
#pragma once

#include <windows.h>
#include <oleauto.h>

// What the start screen is told about the product and the user.
struct StartScreenRecord {
    const wchar_t *commonDataFolder;
    const wchar_t *userDataFolder;
    const wchar_t *appName;
    const wchar_t *userName;
    const wchar_t *userCompany;
    const wchar_t *profile;
    const wchar_t *productLabel;
    const wchar_t *versionText;
    const wchar_t *installerBuild;
};

// "text (label)" as a string of exactly that length; null when it cannot be
// allocated. Free with SysFreeString.
BSTR labelledText(const wchar_t *text, const wchar_t *label);

// Writes the record into the existing elements of iniPath, repairing the
// file from the installation's copy when it cannot be loaded. Nothing is
// saved when an element is missing. 0 on success, else a failure code.
HRESULT updateParamFile(const StartScreenRecord &record, const wchar_t *iniPath,
                        const wchar_t *profileFolder);
