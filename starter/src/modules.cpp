#include "modules.h"

#include "cmdline.h"
#include "context.h"
#include "environment.h"
#include "guard.h"
#include "steps.h"

#include <wchar.h>

namespace {

HMODULE g_mainModule = nullptr;

typedef HRESULT(__stdcall *DllInstallFn)(const wchar_t *, int, int, const wchar_t *);
typedef HRESULT(__stdcall *DllRegisterFn)(const wchar_t *, int);
typedef int(__stdcall *RunAppFn)(HINSTANCE, HINSTANCE, const wchar_t *, int, int);
typedef void(__stdcall *SetThreadIdFn)(DWORD);
typedef void(__stdcall *HandlersFn)();

template <typename T>
T entryPoint(HMODULE module, const char *name)
{
    return reinterpret_cast<T>(reinterpret_cast<void *>(GetProcAddress(module, name)));
}

void debugRegister(const wchar_t *module, const wchar_t *ending)
{
    OutputDebugStringW(L"Starter::RegisterModule(\"");
    OutputDebugStringW(module);
    OutputDebugStringW(ending);
}

HMODULE loadAlongSearchPath(const wchar_t *name)
{
    const StarterContext &c = starter();
    wchar_t found[kStarterPath];
    DWORD n = SearchPathW(c.moduleSearchPath[0] ? c.moduleSearchPath : nullptr, name, nullptr,
                          kStarterPath, found, nullptr);
    if (n == 0 || n >= kStarterPath)
        return nullptr;
    return LoadLibraryW(found);
}

void registerOne(const wchar_t *name, const wchar_t *, void *)
{
    HMODULE module = loadAlongSearchPath(name);
    if (!module) {
        debugRegister(name, L"\") - unable to load module\r\n");
        return;
    }
    wchar_t self[kStarterPath];
    DWORD n = GetModuleFileNameW(nullptr, self, kStarterPath);
    if (n == 0 || n >= kStarterPath)
        return;

    bool registered = false;
    if (DllInstallFn install = entryPoint<DllInstallFn>(module, "KxDllInstallW")) {
        HRESULT user = install(self, 0, 1, L"user");
        install(self, 0, 0, L"");
        HRESULT all = install(self, 0, 0, L"");
        all = install(self, 0, 1, L"");
        user = install(self, 0, 1, L"user");
        registered = all >= 0 || user >= 0;
    }
    if (!registered) {
        if (DllRegisterFn reg = entryPoint<DllRegisterFn>(module, "KxDllRegisterServerW")) {
            if (reg(self, 0) < 0)
                debugRegister(name, L"\") - registering failed\r\n");
        } else {
            debugRegister(name, L"\") - unable to find register entry point\r\n");
        }
    }
}

void unregisterOne(const wchar_t *name, const wchar_t *, void *)
{
    HMODULE module = loadAlongSearchPath(name);
    if (!module)
        return;
    wchar_t self[kStarterPath];
    DWORD n = GetModuleFileNameW(nullptr, self, kStarterPath);
    if (n == 0 || n >= kStarterPath)
        return;
    if (DllInstallFn install = entryPoint<DllInstallFn>(module, "KxDllInstallW")) {
        HRESULT user = install(self, 0, 0, L"user");
        install(self, 0, 0, L"");
        HRESULT all = install(self, 0, 0, L"");
        if (all >= 0 || user >= 0)
            return;
    }
    if (DllRegisterFn unreg = entryPoint<DllRegisterFn>(module, "KxDllUnRegisterServerW"))
        unreg(self, 0);
}

void preloadOne(const wchar_t *name, const wchar_t *, void *)
{
    loadAlongSearchPath(name);
}

struct MainRun {
    RunAppFn run;
    HMODULE module;
    const wchar_t *commandLine;
    int show;
};

int callRunApp(void *context)
{
    const MainRun *m = static_cast<const MainRun *>(context);
    return m->run(m->module, nullptr, m->commandLine, m->show, 0);
}

} // namespace

void registerModules(bool unregister)
{
    readSection(starter().installCfg, L"\\SelfRegModules", unregister ? unregisterOne : registerOne,
                nullptr);
}

void preloadModules()
{
    readSection(starter().installCfg, L"\\PreLoadedModules", preloadOne, nullptr);
}

int runMainModule()
{
    StarterContext &c = starter();

    g_mainModule = LoadLibraryW(c.mainModulePath);
    if (!g_mainModule)
        reportFatal(9, true);
    RunAppFn run = entryPoint<RunAppFn>(g_mainModule, "RunAppW");
    if (!run)
        reportFatal(10, true);
    if (SetThreadIdFn setThread = entryPoint<SetThreadIdFn>(g_mainModule, "SetStartScreenThreadId"))
        setThread(c.startScreenThreadId);

    wchar_t *commandLine = buildFinalCommandLine(c.commandLine, c.commandLineCapacity, c.installCfg);
    if (!commandLine)
        reportFatal(10, true);
    freeText(c.commandLine);
    c.commandLine = nullptr;
    c.commandLineCapacity = 0;

    HMODULE crash = LoadLibraryW(L"QzCrashReport.dll");
    if (crash) {
        if (HandlersFn process = entryPoint<HandlersFn>(crash, "SetProcessHandlers")) {
            process();
            HMODULE again = GetModuleHandleW(L"QzCrashReport.dll");
            if (again) {
                if (HandlersFn thread = entryPoint<HandlersFn>(again, "SetThreadHandlers"))
                    thread();
            }
        }
    }

    MainRun mainRun = {run, g_mainModule, commandLine, c.showCommand};
    int code = callGuarded(callRunApp, &mainRun);

    if (crash)
        FreeLibrary(crash);
    freeText(commandLine);
    return code;
}

HMODULE GetMainDllInstance()
{
    return g_mainModule;
}

const wchar_t *GetMainDllNameW()
{
    return starter().mainModulePath;
}

void AddModuleToTrace()
{
}
