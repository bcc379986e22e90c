#include "environment.h"

#include "builtin.h"
#include "cmdline.h"
#include "context.h"
#include "expand.h"

#include <stdlib.h>
#include <wchar.h>

namespace {

const wchar_t kStarterSection[] = L"Starter";
const wchar_t kBaseSection[] = L"\\Configuration";

// Text behind the last '.' of path replaced by ext (or ".ext" appended when
// the file name has no dot).
void replaceExtension(const wchar_t *path, const wchar_t *ext, wchar_t *out, size_t capacity)
{
    copyText(out, capacity, path);
    wchar_t *dot = wcsrchr(out, L'.');
    wchar_t *slash = wcsrchr(out, L'\\');
    if (dot && (!slash || dot > slash)) {
        dot[1] = 0;
    } else {
        appendText(out, capacity, L".");
    }
    appendText(out, capacity, ext);
}

bool nonEmptyFile(const wchar_t *path)
{
    UINT previous = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    WIN32_FILE_ATTRIBUTE_DATA data;
    bool ok = GetFileAttributesExW(path, GetFileExInfoStandard, &data)
        && !(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        && (data.nFileSizeHigh != 0 || data.nFileSizeLow != 0);
    SetErrorMode(previous);
    return ok;
}

bool folderExists(const wchar_t *path)
{
    if (!path[0])
        return false;
    DWORD a = GetFileAttributesW(path);
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

bool fileOrFolderExists(const wchar_t *path)
{
    return path[0] && GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES;
}

// Reads a typed value; true when the key is present (GetPrivateProfileString
// with a default that no real value has).
bool readProfile(const wchar_t *section, const wchar_t *key, const wchar_t *file, wchar_t *out,
                 DWORD capacity)
{
    static const wchar_t kMissing[] = L"\x01\x02missing";
    GetPrivateProfileStringW(section, key, kMissing, out, capacity, file);
    if (wcscmp(out, kMissing) == 0) {
        out[0] = 0;
        return false;
    }
    return true;
}

// Puts text into a variable; a text beyond the environment's limit of 32767
// characters is not set (the variable keeps its value).
void setVariable(const wchar_t *name, const wchar_t *text)
{
    SetEnvironmentVariableW(name, text);
}

// PATH = front + ";" + old PATH, read completely, so nothing of it is lost.
void prependToPath(const wchar_t *front, const wchar_t *oldPath)
{
    size_t a = wcslen(front);
    size_t b = oldPath ? wcslen(oldPath) : 0;
    wchar_t *text = static_cast<wchar_t *>(malloc((a + b + 2) * sizeof(wchar_t)));
    if (!text)
        return;
    wmemcpy(text, front, a);
    text[a] = L';';
    if (b)
        wmemcpy(text + a + 1, oldPath, b);
    text[a + 1 + b] = 0;
    setVariable(L"PATH", text);
    free(text);
}

} // namespace

wchar_t *readEnvironment(const wchar_t *name)
{
    DWORD size = GetEnvironmentVariableW(name, nullptr, 0);
    for (int attempt = 0; attempt < 4 && size > 0; ++attempt) {
        wchar_t *text = static_cast<wchar_t *>(malloc((size + 1) * sizeof(wchar_t)));
        if (!text)
            return nullptr;
        DWORD n = GetEnvironmentVariableW(name, text, size + 1);
        if (n <= size) {
            text[n] = 0;
            return text;
        }
        free(text);
        size = n;
    }
    if (size == 0 && GetLastError() != ERROR_ENVVAR_NOT_FOUND) {
        wchar_t *text = static_cast<wchar_t *>(malloc(sizeof(wchar_t)));
        if (text)
            text[0] = 0;
        return text;
    }
    return nullptr;
}

void searchModule(const wchar_t *pathList, const wchar_t *name, wchar_t *out, size_t capacity)
{
    wchar_t found[kStarterLongPath];
    DWORD n = 0;
    if (name[0])
        n = SearchPathW(pathList[0] ? pathList : nullptr, name, nullptr, kStarterLongPath,
                        found, nullptr);
    if (n > 0 && n < kStarterLongPath && n < capacity)
        copyText(out, capacity, found);
    else
        copyText(out, capacity, name);
}

void setupEnvironment()
{
    StarterContext &c = starter();

    // 1. A plug-in path inherited from elsewhere must not steer the main
    // application's toolkit.
    SetEnvironmentVariableW(L"QT_QPA_PLATFORM_PLUGIN_PATH", nullptr);

    // 2. Starter path, folder with backslash, file name.
    wchar_t folder[kStarterPath];
    copyText(folder, kStarterPath, c.starterPath);
    wchar_t *slash = wcsrchr(folder, L'\\');
    const wchar_t *fileName = c.starterPath;
    if (slash) {
        slash[1] = 0;
        fileName = c.starterPath + (slash - folder) + 1;
    } else {
        folder[0] = 0;
    }

    // 3. Installation configuration file.
    const wchar_t *cfgName = builtinSetting(kConfigFileSetting);
    bool useNamed = false;
    if (cfgName[0] != L'*') {
        wchar_t named[kStarterPath];
        copyText(named, kStarterPath, folder);
        if (appendText(named, kStarterPath, cfgName) && nonEmptyFile(named)) {
            copyText(c.installCfg, kStarterPath, named);
            useNamed = true;
        }
    }
    if (!useNamed)
        replaceExtension(c.starterPath, L"ini", c.installCfg, kStarterPath);

    // 4. Main module name.
    const wchar_t *mainName = builtinSetting(kMainModuleSetting);
    if (wcscmp(mainName, L"*") == 0)
        replaceExtension(fileName, L"dll", c.mainModuleName, kStarterPath);
    else
        copyText(c.mainModuleName, kStarterPath, mainName);

    // 5. Template.
    wchar_t *templ = static_cast<wchar_t *>(malloc(kStarterPathList * sizeof(wchar_t)));
    wchar_t *expanded = static_cast<wchar_t *>(malloc(kStarterPathList * sizeof(wchar_t)));
    bool haveTemplate = templ && expanded;
    if (haveTemplate) {
        const wchar_t *builtIn = builtinSetting(kSearchPathSetting);
        if (wcscmp(builtIn, L"*") == 0)
            haveTemplate = LoadStringW(c.instance, 1, templ, kStarterPathList) > 0;
        else
            copyText(templ, kStarterPathList, builtIn);
    }

    if (haveTemplate) {
        // 6. "Path" replaces the template; otherwise prefix and suffix.
        wchar_t *value = expanded; // scratch until the expansion
        if (readProfile(kStarterSection, L"Path", c.installCfg, value, kStarterPathList)
            && value[0]) {
            copyText(templ, kStarterPathList, value);
        } else {
            wchar_t part[1300];
            readProfile(kStarterSection, L"PathPrefix", c.installCfg, part, 1300);
            if (part[0]) {
                copyText(value, kStarterPathList, part);
                appendText(value, kStarterPathList, L";");
                appendText(value, kStarterPathList, templ);
                copyText(templ, kStarterPathList, value);
            }
            readProfile(kStarterSection, L"PathSuffix", c.installCfg, part, 1300);
            if (part[0]) {
                appendText(templ, kStarterPathList, L";");
                appendText(templ, kStarterPathList, part);
            }
        }

        // 7. Placeholder values.
        wchar_t p1[kStarterPath], p2[kStarterPath], p3[kStarterPath];
        wchar_t p4[32], p6[32], p7[32], p8[32];
        wchar_t raw[kStarterPath];
        readProfile(kStarterSection, L"%4", c.installCfg, raw, kStarterPath);
        copyText(p4, 32, raw);
        readProfile(kStarterSection, L"%6", c.installCfg, raw, kStarterPath);
        copyText(p6, 32, raw);
        readProfile(kStarterSection, L"%7", c.installCfg, raw, kStarterPath);
        copyText(p7, 32, raw);
        readProfile(kStarterSection, L"%8", c.installCfg, raw, kStarterPath);
        copyText(p8, 32, raw);

        if (wcsrchr(c.starterPath, L'\\')) {
            copyText(p2, kStarterPath, c.starterFolder);
        } else {
            DWORD n = GetCurrentDirectoryW(kStarterPath, p2);
            if (n == 0 || n >= kStarterPath)
                p2[0] = 0;
        }
        copyText(p1, kStarterPath, p2);
        if (wchar_t *cut = wcsrchr(p1, L'\\'))
            *cut = 0;
        DWORD n = GetCurrentDirectoryW(kStarterPath, p3);
        if (n == 0 || n >= kStarterPath)
            p3[0] = 0;

        // 8. Expansion; %5 stays "%5" until the platform is known.
        const wchar_t *inserts[8] = {p1, p2, p3, p4, L"%5", p6, p7, p8};
        expandTemplate(templ, inserts, expanded, kStarterPathList);

        // 9. PATH and KX_WI_DIR_TREE, unless PATH already holds the text
        // (a child of a starter inherits both).
        wchar_t *path = readEnvironment(L"PATH");
        if (!containsText(path, expanded)) {
            prependToPath(expanded, path);
            setVariable(L"KX_WI_DIR_TREE", expanded);
        }
        freeText(path);

        // 10. moduleSearchPath, cut behind a whole element when too long.
        copyPathList(expanded, c.moduleSearchPath, kStarterSearchPath);
    }
    free(templ);
    free(expanded);

    // 11. Display check.
    HDC screen = GetDC(nullptr);
    int bits = screen ? GetDeviceCaps(screen, BITSPIXEL) : 32;
    if (screen)
        ReleaseDC(nullptr, screen);
    if (bits <= 4)
        reportFatal(14, false);

    // 12. OEM module path.
    searchModule(c.moduleSearchPath, builtinSetting(kOemModuleSetting), c.oemModulePath,
                 kStarterPath);
}

namespace {

struct PlatformElements {
    wchar_t platform[kStarterPathList];
    wchar_t data[kStarterPathList];
    bool haveData;
};

void expandElement(const wchar_t *element, const wchar_t *platformFolder,
                   const wchar_t *dataFolder, PlatformElements *out)
{
    replacePlaceholder5(element, platformFolder, out->platform, kStarterPathList);
    out->haveData = dataFolder[0] != 0;
    out->data[0] = 0;
    if (out->haveData)
        replacePlaceholder5(element, dataFolder, out->data, kStarterPathList);
}

bool usable(const PlatformElements &e)
{
    return folderExists(e.platform) && (!e.haveData || folderExists(e.data));
}

// Value without its type letter.
void untyped(const wchar_t *value, wchar_t *out, size_t capacity)
{
    copyText(out, capacity, value[0] ? value + 1 : value);
}

} // namespace

void resolvePlatform()
{
    StarterContext &c = starter();
    wchar_t *platformName = c.switches.platformName;

    // 1. Sections.
    wchar_t userSection[kStarterPath * 2];
    copyText(userSection, kStarterPath * 2, kBaseSection);
    if (c.switches.configName[0]) {
        wchar_t config[kStarterPath];
        copyText(config, kStarterPath, c.switches.configName);
        if (wchar_t *eq = wcschr(config, L'='))
            *eq = 0;
        appendText(userSection, kStarterPath * 2, L"\\");
        appendText(userSection, kStarterPath * 2, config);
    }
    wchar_t prefix[64];
    formatText(prefix, 64, L"%s\\qPlat", kBaseSection);

    bool userCfgExists = c.userCfg[0] && fileOrFolderExists(c.userCfg);

    // 2. The user's choice, and -b remembered for the next start.
    if (userCfgExists) {
        wchar_t wanted[kStarterPath + 1];
        wanted[0] = 0;
        if (platformName[0])
            formatText(wanted, kStarterPath + 1, L"s%s", platformName);
        wchar_t stored[kStarterPath];
        bool read = readProfile(userSection, L"qPlat", c.userCfg, stored, kStarterPath);
        if (read && wcslen(stored) > 1 && !platformName[0])
            untyped(stored, platformName, kStarterPath);
        if (wanted[0] && wcscmp(wanted, stored) != 0)
            WritePrivateProfileStringW(userSection, L"qPlat", wanted, c.userCfg);
    }

    // 3. The installation's default.
    bool isDefault = false;
    if (!platformName[0]) {
        wchar_t value[kStarterPath];
        if (!readProfile(kBaseSection, L"qPlat", c.installCfg, value, kStarterPath)
            || wcslen(value) <= 1)
            reportFatal(15, true);
        untyped(value, platformName, kStarterPath);
        isDefault = true;
        if (userCfgExists)
            WritePrivateProfileStringW(userSection, L"qPlat", value, c.userCfg);
    }

    // 4. Platform and data folders.
    wchar_t section[kStarterPath * 2];
    formatText(section, kStarterPath * 2, L"%s\\%s", prefix, platformName);
    wchar_t value[kStarterPath];
    wchar_t platformFolder[kStarterPath];
    wchar_t dataFolder[kStarterPath];
    readProfile(section, L"Dir", c.installCfg, value, kStarterPath);
    untyped(value, platformFolder, kStarterPath);
    readProfile(section, L"TrDataDir", c.installCfg, value, kStarterPath);
    untyped(value, dataFolder, kStarterPath);
    if (!platformFolder[0])
        reportFatal(15, true);

    // 5. The search path element that holds the platform.
    static PlatformElements elements;
    wchar_t element[kStarterSearchPath];
    firstPlatformElement(c.moduleSearchPath, element, kStarterSearchPath);
    expandElement(element, platformFolder, dataFolder, &elements);

    // 6. Fall back to the default platform once.
    if (!usable(elements)) {
        wchar_t defaultName[kStarterPath];
        defaultName[0] = 0;
        if (!isDefault) {
            readProfile(kBaseSection, L"qPlat", c.installCfg, value, kStarterPath);
            untyped(value, defaultName, kStarterPath);
        }
        if (!defaultName[0])
            reportFatal(15, true);
        formatText(section, kStarterPath * 2, L"%s\\%s", prefix, defaultName);
        if (readProfile(section, L"Dir", c.installCfg, value, kStarterPath))
            untyped(value, platformFolder, kStarterPath);
        if (readProfile(section, L"TrDataDir", c.installCfg, value, kStarterPath))
            untyped(value, dataFolder, kStarterPath);
        expandElement(element, platformFolder, dataFolder, &elements);
        if (!usable(elements))
            reportFatal(15, true);
        if (userCfgExists) {
            wchar_t typed[kStarterPath + 1];
            formatText(typed, kStarterPath + 1, L"s%s", defaultName);
            WritePrivateProfileStringW(userSection, L"qPlat", typed, c.userCfg);
        }
        copyText(platformName, kStarterPath, defaultName);
    }

    // 7. KX_ADD_PATH.
    setVariable(L"KX_ADD_PATH", elements.haveData ? elements.data : elements.platform);

    // 8-9. The resolved search path.
    static wchar_t resolved[kStarterPathList];
    replacePlaceholder5(c.moduleSearchPath, platformFolder, resolved, kStarterPathList);
    if (elements.haveData) {
        appendText(resolved, kStarterPathList, L";");
        appendText(resolved, kStarterPathList, elements.data);
        appendText(resolved, kStarterPathList, L";");
    }
    setVariable(L"KX_WI_DIR_TREE", resolved);

    // 10. PATH with "%5" replaced; only "%5" is touched, the rest of PATH
    // is kept literally.
    wchar_t *path = readEnvironment(L"PATH");
    if (!containsText(path, resolved)) {
        const wchar_t *old = path ? path : L"";
        size_t fives = 0;
        for (const wchar_t *p = old; (p = wcsstr(p, L"%5")) != nullptr; p += 2)
            ++fives;
        size_t dataLen = elements.haveData ? wcslen(elements.data) + 2 : 0;
        size_t cap = wcslen(old) + fives * wcslen(platformFolder) + dataLen + 1;
        wchar_t *text = static_cast<wchar_t *>(malloc(cap * sizeof(wchar_t)));
        if (text) {
            replacePlaceholder5(old, platformFolder, text, cap);
            if (elements.haveData) {
                appendText(text, cap, L";");
                appendText(text, cap, elements.data);
                appendText(text, cap, L";");
            }
            setVariable(L"PATH", text);
            free(text);
        }
    }
    freeText(path);

    // The resolved search path is what later module searches use.
    copyPathList(resolved, c.moduleSearchPath, kStarterSearchPath);
}
