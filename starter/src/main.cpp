// Meridane: prepares the process and hands it to the main application module.
#include "builtin.h"
#include "cmdline.h"
#include "context.h"
#include "datacopy.h"
#include "environment.h"
#include "modules.h"
#include "steps.h"

#include <shellapi.h>
#include <wchar.h>

namespace {

StarterContext g_context;

// The process's own command line split by the system's rules; argc 0 and
// argv null when it cannot be split.
void splitProcessCommandLine()
{
    StarterContext &c = starter();
    c.argc = 0;
    c.argv = CommandLineToArgvW(GetCommandLineW(), &c.argc);
    if (!c.argv)
        c.argc = 0;
}

void releaseArguments()
{
    StarterContext &c = starter();
    if (c.argv)
        LocalFree(c.argv);
    c.argv = nullptr;
    c.argc = 0;
}

void reserveLowAddressSpace()
{
    // Each reservation takes a whole allocation granule; what the process
    // allocates later lies above the first 4 GB. Never released.
    for (int i = 0; i < 0x100000; ++i)
        VirtualAlloc(nullptr, 4096, MEM_RESERVE, PAGE_READWRITE);
}

void loadProductIdentity()
{
    StarterContext &c = starter();
    c.oemModule = LoadLibraryW(c.oemModulePath);
    if (!c.oemModule)
        reportFatal(9, true);
    NewOemInfoFn create = reinterpret_cast<NewOemInfoFn>(
        reinterpret_cast<void *>(GetProcAddress(c.oemModule, "new_IOemInfo")));
    if (!create)
        reportFatal(9, true);
    c.oem = create();
    if (!c.oem)
        reportFatal(9, true);
}

const wchar_t *orEmpty(const wchar_t *text)
{
    return text ? text : L"";
}

void buildIdentityTexts()
{
    StarterContext &c = starter();
    unsigned int version = c.oem->GetVersion();
    unsigned int first = version & 0xFFFF;
    unsigned int second = version >> 16;
    const wchar_t *product = orEmpty(c.oem->GetProductName());
    formatText(c.productLabel, kStarterPath, L"%s %d.%d", product, first, second);
    formatText(c.versionText, 32, L"%d.%d", first, second);
}

// A key cut at its buffer would name another product's key: the key stays
// empty then, and every step that reads or writes it is skipped.
void buildProductKey()
{
    StarterContext &c = starter();
    unsigned int version = c.oem->GetVersion();
    if (!formatText(c.productKey, kStarterPath, L"SOFTWARE\\%s\\%s\\%d.%d",
                    orEmpty(c.oem->GetVendorName()), orEmpty(c.oem->GetProductName()),
                    version & 0xFFFF, version >> 16))
        c.productKey[0] = 0;
}

void findMainModule()
{
    StarterContext &c = starter();
    searchModule(c.moduleSearchPath, c.mainModuleName, c.mainModulePath, kStarterLongPath);
    copyText(c.catalogPath, kStarterLongPath, c.mainModulePath);
    if (wchar_t *dot = wcsrchr(c.catalogPath, L'.'))
        *dot = 0;
    appendText(c.catalogPath, kStarterLongPath, L".wld");
}

void takeStarterFolder()
{
    StarterContext &c = starter();
    copyText(c.starterFolder, kStarterPath, c.starterPath);
    if (wchar_t *slash = wcsrchr(c.starterFolder, L'\\'))
        *slash = 0;
}

void readProvisionedFolder()
{
    StarterContext &c = starter();
    c.userDataDue = false;
    // Without a product key nothing can be recorded: copying at every start
    // would replace the user's files each time.
    if (c.flags.unregisterRun || !c.productKey[0])
        return;
    HKEY key;
    wchar_t stored[kStarterPath];
    stored[0] = 0;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, c.productKey, 0, KEY_READ, &key) == ERROR_SUCCESS) {
        if (!c.flags.registerRun)
            handleUpgrade();
        readRegistryText(key, L"UserDataDir", stored, kStarterPath);
        RegCloseKey(key);
    }
    c.userDataDue = wcscmp(stored, c.userDataFolder) != 0;
}

bool isPackageFile(const wchar_t *file)
{
    const wchar_t *dot = wcsrchr(file, L'.');
    return dot && wcscmp(dot + 1, L"package") == 0;
}

int finish(int code)
{
    StarterContext &c = starter();
    if (c.oem) {
        c.oem->Finish();
        c.oem->Release();
        c.oem = nullptr;
    }
    if (c.oemModule) {
        FreeLibrary(c.oemModule);
        c.oemModule = nullptr;
    }
    return code;
}

} // namespace

StarterContext &starter()
{
    return g_context;
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int showCommand)
{
    StarterContext &c = starter();
    c.instance = instance;
    c.showCommand = showCommand;

    DWORD n = GetModuleFileNameW(nullptr, c.starterPath, kStarterPath);
    if (n == 0 || n >= kStarterPath)
        c.starterPath[n == 0 ? 0 : kStarterPath - 1] = 0;
    if (!loadBuiltinSettings())
        reportFatal(10, true);

    // 1. Rebuilt command line.
    splitProcessCommandLine();
    c.commandLine = rebuildCommandLine(c.argc, c.argv, &c.commandLineCapacity);
    if (!c.commandLine)
        reportFatal(10, true);

    // 2. Search path, PATH, display.
    takeStarterFolder();
    setupEnvironment();

    // 3. Flags.
    scanFlags(c.argc, c.argv, &c.flags);
    if (c.flags.stopForConnect)
        MessageBoxW(nullptr, L"stop_for_connect", L"Velmora",
                    MB_ICONINFORMATION | MB_TASKMODAL | MB_SETFOREGROUND | MB_TOPMOST);
    if (c.flags.profiler)
        SetEnvironmentVariableW(L"QZPROFILER", L"1");
    if (c.flags.reserve4GB)
        reserveLowAddressSpace();

    // 4. Product identity.
    loadProductIdentity();

    // 5. Product label, data folders.
    buildIdentityTexts();
    determineDataFolders();

    // 6-8.
    buildProductKey();
    findMainModule();
    takeStarterFolder();

    // 9. Switch values.
    tokeniseSwitches(c.argc, c.argv, &c.switches);
    releaseArguments();

    // 10. Upgrade and provisioned user data.
    readProvisionedFolder();

    // 11. Registration run.
    if (c.flags.registerRun) {
        registerModules(c.flags.unregisterRun);
        return finish(0);
    }

    // 12. Start screen.
    if (!c.flags.unregisterRun)
        c.startScreenThreadId = startStartScreen();

    // 13. User data.
    if (c.userDataDue || c.flags.unregisterRun)
        provisionUserDataStep(c.flags.unregisterRun);

    // 14. Package.
    if (isPackageFile(c.switches.packageFile))
        installPackageStep(c.flags.unregisterRun);

    // 15. Unregistration run.
    if (c.flags.unregisterRun) {
        registerModules(true);
        return finish(0);
    }

    // 16. Platform.
    if (wcsstr(c.moduleSearchPath, L"%5"))
        resolvePlatform();

    // 17-18. Modules.
    preloadModules();
    int code = runMainModule();
    return finish(code);
}
