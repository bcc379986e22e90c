// Per-user and all-users data folders and the first start after an upgrade.
#pragma once

#include <windows.h>
#include <commctrl.h>

// Forms base\vendor\label into out (260 characters). With create set the
// vendor and product folders are created when missing; otherwise both must
// exist. out is empty when the folder cannot be formed.
void formDataFolder(const wchar_t *base, const wchar_t *vendor, const wchar_t *label, bool create,
                    wchar_t *out);
// The user data folder (roaming application data) and the common data folder
// (application data of all users); each out holds 260 characters.
void determineUserDataFolder(const wchar_t *vendor, const wchar_t *label, wchar_t *out);
void determineCommonDataFolder(const wchar_t *vendor, const wchar_t *label, wchar_t *out);

// Copies the files matching folder\pattern into backupFolder (or the first
// free folder\BackUpCfgNN when null), deleting the originals when asked.
// True when at least one file matched.
bool backupConfigFiles(const wchar_t *folder, const wchar_t *pattern, const wchar_t *backupFolder,
                       bool deleteOriginals);

// Consumes "JustUpgraded" under productKey: asks keep or reset when userCfg
// exists, then marks every profile as upgraded.
void handleUpgradeFor(const wchar_t *productKey, const wchar_t *userDataFolder,
                      const wchar_t *userCfg, const wchar_t *productLabel,
                      const wchar_t *catalogPath, HINSTANCE instance);

// Test hook: a callback that the upgrade prompt passes to the task dialog
// (it can press a button once the dialog exists). Null restores the default.
void setUpgradePromptCallback(PFTASKDIALOGCALLBACK callback, LONG_PTR data);
