#include "startscreen.h"
#include "context.h"
#include "datacopy.h"
#include "steps.h"

#include <shellapi.h>
#include <stdio.h>
#include <wchar.h>

namespace {

const wchar_t kUnsafeChars[] = L"<>/\\\":;?*|,=`";

// Reads the decimal number at the start of a version file (first 1023 bytes).
bool readVersion(const wchar_t *path, int *number)
{
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    char text[1024];
    DWORD got = 0;
    BOOL ok = ReadFile(file, text, sizeof text - 1, &got, nullptr);
    CloseHandle(file);
    if (!ok)
        return false;
    text[got] = 0;
    return sscanf(text, "%d", number) == 1;
}

bool refreshDue(const wchar_t *sourceFolder, const wchar_t *profileFolder)
{
    wchar_t sourceVersion[kPathChars], profileVersion[kPathChars];
    if (!pathJoin(sourceVersion, kPathChars, sourceFolder, L"last.version")
        || !pathJoin(profileVersion, kPathChars, profileFolder, L"last.version"))
        return false;
    if (!fileExists(sourceVersion))
        return false;
    if (GetFileAttributesW(profileVersion) == INVALID_FILE_ATTRIBUTES)
        return true;
    int source = 0, profile = 0;
    return readVersion(sourceVersion, &source) && readVersion(profileVersion, &profile)
           && profile < source;
}

void deleteFolderTree(const wchar_t *folder)
{
    // The shell takes a list of paths ended by an extra zero.
    wchar_t from[kPathChars + 1];
    size_t n = wcslen(folder);
    wmemcpy(from, folder, n);
    from[n] = 0;
    from[n + 1] = 0;
    SHFILEOPSTRUCTW op;
    ZeroMemory(&op, sizeof op);
    op.wFunc = FO_DELETE;
    op.pFrom = from;
    op.fFlags = 0x614;
    int rc = SHFileOperationW(&op);
    if (rc != 0) {
        wchar_t message[kPathChars + 64];
        swprintf(message, kPathChars + 64, L"Delete directory '%ls' invalid. Error=%d.", folder, rc);
        OutputDebugStringW(message);
    }
}

} // namespace

void safeProfileName(const wchar_t *profile, wchar_t *out, size_t cap)
{
    size_t n = 0;
    bool onlyDots = true;
    for (const wchar_t *p = profile; *p && n + 1 < cap; ++p) {
        wchar_t ch = *p;
        if (wcschr(kUnsafeChars, ch))
            ch = L'$';
        if (ch != L'.' && ch != L' ')
            onlyDots = false;
        out[n++] = ch;
    }
    out[n] = 0;
    if (onlyDots)
        for (size_t i = 0; i < n; ++i)
            out[i] = L'$';
}

DWORD launchStartScreen(const StartScreenRecord &r)
{
    // Without a user data folder the profiles would land in the drive's root.
    if (!r.userDataFolder || !*r.userDataFolder)
        return 0;
    wchar_t ssFolder[kPathChars], profilesFolder[kPathChars], profileFolder[kPathChars];
    wchar_t name[kPathChars], sourceFolder[kPathChars];
    if (!pathJoin(ssFolder, kPathChars, r.userDataFolder, L"ss20") || !ensureFolder(ssFolder))
        return 0;
    if (!pathJoin(profilesFolder, kPathChars, ssFolder, L"profiles") || !ensureFolder(profilesFolder))
        return 0;
    safeProfileName(r.profile, name, kPathChars);
    if (!*name || !pathJoin(profileFolder, kPathChars, profilesFolder, name)
        || !isInsideFolder(profileFolder, profilesFolder))
        return 0;
    bool haveSource = r.commonDataFolder && *r.commonDataFolder
                      && pathJoin(sourceFolder, kPathChars, r.commonDataFolder, L"ss20", L"qzss_files");

    if (haveSource && refreshDue(sourceFolder, profileFolder))
        deleteFolderTree(profileFolder);
    if (!ensureFolder(profileFolder))
        return 0;

    wchar_t iniPath[kPathChars], ssiniPath[kPathChars];
    if (!pathJoin(iniPath, kPathChars, profileFolder, L"ini.xml")
        || !pathJoin(ssiniPath, kPathChars, profileFolder, L"ssini.xml"))
        return 0;
    bool ready = (fileExists(iniPath) && fileExists(ssiniPath))
                 || (haveSource && copyTree(sourceFolder, profileFolder, false));
    if (!ready)
        return 0;

    updateParamFile(r, iniPath, profileFolder);

    wchar_t commandLine[kPathChars + 32];
    swprintf(commandLine, kPathChars + 32, L"qzstartscreenqt.exe \"%ls\"", iniPath);
    STARTUPINFOW si;
    ZeroMemory(&si, sizeof si);
    si.cb = sizeof si;
    PROCESS_INFORMATION pi;
    if (!CreateProcessW(nullptr, commandLine, nullptr, nullptr, TRUE, NORMAL_PRIORITY_CLASS,
                        nullptr, nullptr, &si, &pi))
        return 0;
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    return pi.dwThreadId;
}

DWORD startStartScreen()
{
    StarterContext &c = starter();
    const wchar_t *profile = c.switches.profileName[0] ? c.switches.profileName
                             : c.switches.configName[0] ? c.switches.configName
                                                        : L"<<Default>>";
    wchar_t installerBuild[kPathChars] = L"";
    HKEY key;
    if (c.productKey[0]
        && RegOpenKeyExW(HKEY_LOCAL_MACHINE, c.productKey, 0, KEY_READ, &key) == ERROR_SUCCESS) {
        readRegistryText(key, L"InstallerBuild", installerBuild, kPathChars);
        RegCloseKey(key);
    }
    StartScreenRecord r;
    r.commonDataFolder = c.commonDataFolder;
    r.userDataFolder = c.userDataFolder;
    r.appName = c.switches.ddeAppName[0] ? c.switches.ddeAppName : c.productLabel;
    r.userName = c.oem && c.oem->GetUserName() ? c.oem->GetUserName() : L"";
    r.userCompany = c.oem && c.oem->GetUserCompany() ? c.oem->GetUserCompany() : L"";
    r.profile = profile;
    r.productLabel = c.productLabel;
    r.versionText = c.versionText;
    r.installerBuild = installerBuild;
    return launchStartScreen(r);
}
