#include "userdata.h"
#include "datacopy.h"
#include "context.h"
#include "steps.h"

#include <shlobj.h>
#include <wchar.h>

namespace {

PFTASKDIALOGCALLBACK g_promptCallback = nullptr;
LONG_PTR g_promptCallbackData = 0;

enum { kUpgradeReadBytes = 520, kButtonKeep = 6, kButtonReset = 7 };

void dataFolderFor(int shellFolder, const wchar_t *vendor, const wchar_t *label, bool create,
                   wchar_t *out)
{
    out[0] = 0;
    if (!vendor || !*vendor || !label || !*label)
        return;
    wchar_t base[MAX_PATH];
    if (SHGetFolderPathW(nullptr, shellFolder, nullptr, SHGFP_TYPE_CURRENT, base) != S_OK)
        return;
    formDataFolder(base, vendor, label, create, out);
}

typedef HRESULT(WINAPI *TaskDialogIndirectFn)(const TASKDIALOGCONFIG *, int *, int *, BOOL *);

// Replaces each of the first two "%s" with insert; the text is never used as
// a format string, so a translated text with stray "%" stays harmless.
void fillInserts(const wchar_t *format, const wchar_t *insert, wchar_t *out, size_t cap)
{
    size_t n = 0, inserts = 0, insertLen = wcslen(insert);
    for (const wchar_t *p = format; *p && n + 1 < cap; ++p) {
        if (p[0] == L'%' && p[1] == L's' && inserts < 2) {
            size_t take = insertLen < cap - 1 - n ? insertLen : cap - 1 - n;
            wmemcpy(out + n, insert, take);
            n += take;
            ++inserts;
            ++p;
        } else {
            out[n++] = *p;
        }
    }
    out[n] = 0;
}

void loadText(HINSTANCE instance, UINT id, wchar_t *out, int cap)
{
    if (LoadStringW(instance, id, out, cap) <= 0)
        out[0] = 0;
}

// Shows the prompt; the chosen button, or 0 when the dialog could not be shown.
int askKeepOrReset(const wchar_t *userDataFolder, const wchar_t *productLabel,
                   const wchar_t *catalogPath, HINSTANCE instance)
{
    wchar_t keep[520], resetFormat[520], instruction[260], content[260];
    loadText(instance, 18, keep, 520);
    loadText(instance, 19, resetFormat, 520);
    loadText(instance, 16, instruction, 260);
    loadText(instance, 17, content, 260);

    // A translation may live in one buffer of the support module that the
    // next call overwrites: each is copied at once.
    struct Text { wchar_t *buffer; int cap; } texts[4] = {
        {keep, 520}, {resetFormat, 520}, {instruction, 260}, {content, 260}};
    HMODULE support = GetModuleHandleW(L"kxicore.dll");
    if (support) {
        typedef int (*InitFn)(const wchar_t *);
        typedef const wchar_t *(*TranslateFn)(const wchar_t *);
        InitFn init = reinterpret_cast<InitFn>(
            reinterpret_cast<void *>(GetProcAddress(support, "?Supp_Init@@YAHPEB_W@Z")));
        if (init) {
            init(catalogPath);
            TranslateFn translate = reinterpret_cast<TranslateFn>(reinterpret_cast<void *>(
                GetProcAddress(support, "?Supp_Translate@@YAPEB_WPEB_W@Z")));
            if (translate)
                for (Text &t : texts) {
                    const wchar_t *translated = translate(t.buffer);
                    if (translated && translated != t.buffer) {
                        size_t n = wcsnlen(translated, (size_t)t.cap - 1);
                        wmemmove(t.buffer, translated, n);
                        t.buffer[n] = 0;
                    }
                }
        }
    }
    wchar_t reset[520 + 2 * 260];
    fillInserts(resetFormat, userDataFolder, reset, sizeof reset / sizeof reset[0]);

    HMODULE controls = LoadLibraryW(L"comctl32.dll");
    TaskDialogIndirectFn taskDialog = controls ? reinterpret_cast<TaskDialogIndirectFn>(
        reinterpret_cast<void *>(GetProcAddress(controls, "TaskDialogIndirect"))) : nullptr;
    if (!taskDialog)
        return 0;

    TASKDIALOG_BUTTON buttons[2] = {{kButtonKeep, keep}, {kButtonReset, reset}};
    TASKDIALOGCONFIG config;
    ZeroMemory(&config, sizeof config);
    config.cbSize = sizeof config;
    config.hInstance = instance;
    config.dwFlags = TDF_USE_COMMAND_LINKS | TDF_SIZE_TO_CONTENT;
    config.pszWindowTitle = productLabel;
    config.pszMainIcon = TD_WARNING_ICON;
    config.pszMainInstruction = instruction;
    config.pszContent = content;
    config.cButtons = 2;
    config.pButtons = buttons;
    config.nDefaultButton = kButtonKeep;
    config.pfCallback = g_promptCallback;
    config.lpCallbackData = g_promptCallbackData;
    int chosen = 0;
    // A dialog that reports success without any button (no desktop to show
    // it on) was not shown either.
    if (FAILED(taskDialog(&config, &chosen, nullptr, nullptr)))
        return 0;
    return chosen;
}

void markProfiles(const wchar_t *productKey)
{
    wchar_t profilesKey[2 * kPathChars];
    if (!pathJoin(profilesKey, 2 * kPathChars, productKey, L"Profiles"))
        return;
    HKEY profiles;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, profilesKey, 0, KEY_READ, &profiles) != ERROR_SUCCESS)
        return;
    for (DWORD index = 0;; ++index) {
        wchar_t name[kPathChars];
        DWORD nameLen = kPathChars;
        LONG rc = RegEnumKeyExW(profiles, index, name, &nameLen, nullptr, nullptr, nullptr, nullptr);
        if (rc != ERROR_SUCCESS)
            break;
        wchar_t profileKey[3 * kPathChars];
        if (!pathJoin(profileKey, 3 * kPathChars, profilesKey, name))
            continue;
        HKEY profile;
        if (RegCreateKeyExW(HKEY_CURRENT_USER, profileKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            &profile, nullptr) != ERROR_SUCCESS)
            continue;
        RegSetValueExW(profile, L"JustUpgraded", 0, REG_SZ, reinterpret_cast<const BYTE *>(L""),
                       sizeof(wchar_t));
        RegCloseKey(profile);
    }
    RegCloseKey(profiles);
}

} // namespace

void setUpgradePromptCallback(PFTASKDIALOGCALLBACK callback, LONG_PTR data)
{
    g_promptCallback = callback;
    g_promptCallbackData = data;
}

void formDataFolder(const wchar_t *base, const wchar_t *vendor, const wchar_t *label, bool create,
                    wchar_t *out)
{
    out[0] = 0;
    if (!base || !*base || !vendor || !*vendor || !label || !*label)
        return;
    if (wcslen(base) + wcslen(label) + wcslen(vendor) + 3 > kPathChars)
        return;
    wchar_t folder[kPathChars];
    textCopy(folder, kPathChars, base);
    size_t n = wcslen(folder);
    if (folder[n - 1] != L'\\')
        textAppend(folder, kPathChars, L"\\");
    if (!folderExists(folder))
        return;
    // The length check above leaves room for both names and the separator.
    textAppend(folder, kPathChars, vendor);
    if (create)
        CreateDirectoryW(folder, nullptr);
    else if (!folderExists(folder))
        return;
    textAppend(folder, kPathChars, L"\\");
    textAppend(folder, kPathChars, label);
    if (create)
        CreateDirectoryW(folder, nullptr);
    else if (!folderExists(folder))
        return;
    textCopy(out, kPathChars, folder);
}

void determineUserDataFolder(const wchar_t *vendor, const wchar_t *label, wchar_t *out)
{
    dataFolderFor(CSIDL_APPDATA, vendor, label, true, out);
}

void determineCommonDataFolder(const wchar_t *vendor, const wchar_t *label, wchar_t *out)
{
    dataFolderFor(CSIDL_COMMON_APPDATA, vendor, label, false, out);
}

bool backupConfigFiles(const wchar_t *folder, const wchar_t *pattern, const wchar_t *backupFolder,
                       bool deleteOriginals)
{
    wchar_t backup[kPathChars];
    if (backupFolder) {
        if (!textCopy(backup, kPathChars, backupFolder))
            return false;
    } else {
        bool created = false;
        for (int n = 1; n <= 99 && !created; ++n) {
            wchar_t name[16];
            swprintf(name, 16, L"BackUpCfg%02d", n);
            if (!pathJoin(backup, kPathChars, folder, name))
                return false;
            created = CreateDirectoryW(backup, nullptr) != FALSE;
        }
    }
    wchar_t search[kPathChars];
    if (!pathJoin(search, kPathChars, folder, pattern))
        return false;
    WIN32_FIND_DATAW fd;
    HANDLE find = FindFirstFileW(search, &fd);
    if (find == INVALID_HANDLE_VALUE)
        return false;
    bool matched = false;
    do {
        matched = true;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            continue;
        wchar_t src[kPathChars], dst[kPathChars];
        if (!pathJoin(src, kPathChars, folder, fd.cFileName)
            || !pathJoin(dst, kPathChars, backup, fd.cFileName))
            continue;
        // The original goes only once its copy is safe.
        if (CopyFileW(src, dst, FALSE) && deleteOriginals)
            DeleteFileW(src);
    } while (FindNextFileW(find, &fd));
    FindClose(find);
    return matched;
}

void handleUpgradeFor(const wchar_t *productKey, const wchar_t *userDataFolder,
                      const wchar_t *userCfg, const wchar_t *productLabel,
                      const wchar_t *catalogPath, HINSTANCE instance)
{
    HKEY readKey;
    if (!*productKey
        || RegOpenKeyExW(HKEY_CURRENT_USER, productKey, 0, KEY_READ, &readKey) != ERROR_SUCCESS)
        return;
    BYTE mark[kUpgradeReadBytes];
    DWORD size = sizeof mark;
    LONG rc = RegQueryValueExW(readKey, L"JustUpgraded", nullptr, nullptr, mark, &size);
    RegCloseKey(readKey);
    if (rc != ERROR_SUCCESS)
        return;
    HKEY key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, productKey, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
        return;

    // Without a user data folder the configuration folder would be "\Config"
    // in the drive's root: no prompt, nothing there is backed up or deleted.
    wchar_t configFolder[kPathChars];
    if (*userDataFolder && fileExists(userCfg)
        && pathJoin(configFolder, kPathChars, userDataFolder, L"Config")) {
        int chosen = askKeepOrReset(userDataFolder, productLabel, catalogPath, instance);
        if (chosen == kButtonReset) {
            backupConfigFiles(configFolder, L"*.cfg", nullptr, true);
        } else if (chosen != 0) {
            RegSetValueExW(key, L"UserDataDir", 0, REG_SZ,
                           reinterpret_cast<const BYTE *>(userDataFolder),
                           (DWORD)((wcslen(userDataFolder) + 1) * sizeof(wchar_t)));
        }
    }
    RegDeleteValueW(key, L"JustUpgraded");
    RegCloseKey(key);
    markProfiles(productKey);
}

void determineDataFolders()
{
    StarterContext &c = starter();
    const wchar_t *vendor = c.oem ? c.oem->GetVendorName() : nullptr;
    determineUserDataFolder(vendor, c.productLabel, c.userDataFolder);
    determineCommonDataFolder(vendor, c.productLabel, c.commonDataFolder);
    // Without a user data folder there is no user configuration file (not
    // one in "\Config" at the drive's root).
    wchar_t configFolder[kPathChars];
    if (!c.userDataFolder[0] || !pathJoin(configFolder, kPathChars, c.userDataFolder, L"Config")
        || !pathJoin(c.userCfg, kPathChars, configFolder, L"cfg.ini"))
        c.userCfg[0] = 0;
}

void handleUpgrade()
{
    StarterContext &c = starter();
    handleUpgradeFor(c.productKey, c.userDataFolder, c.userCfg, c.productLabel, c.catalogPath,
                     c.instance);
}
