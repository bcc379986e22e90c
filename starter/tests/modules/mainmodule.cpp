// Main application test module: RunAppW records its arguments, the
// environment and what the starter's exports return, then returns MT_EXIT
// (or throws with MT_THROW=1, raises the Microsoft compiler's C++ exception
// code with MT_RAISE=msvc, faults with MT_RAISE=fault).
#include "record.h"

#include <shellapi.h>

namespace {
HMODULE g_self = nullptr;
}

#ifndef NO_RUNAPP
extern "C" __declspec(dllexport) int RunAppW(HINSTANCE instance, HINSTANCE previous,
                                             const wchar_t *commandLine, int show, int zero)
{
    if (envInt(L"MT_TIMING", 0)) {
        // Time from the creation of the process to this call.
        FILETIME created, exited, kernel, user, now;
        GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
        GetSystemTimePreciseAsFileTime(&now);
        ULARGE_INTEGER a, b;
        a.LowPart = created.dwLowDateTime;
        a.HighPart = created.dwHighDateTime;
        b.LowPart = now.dwLowDateTime;
        b.HighPart = now.dwHighDateTime;
        recordLine(L"startup.us=%llu", (b.QuadPart - a.QuadPart) / 10);
        return 0;
    }
    recordLine(L"RunAppW.cmd=[%ls]", commandLine ? commandLine : L"<null>");
    if (commandLine) {
        // The arguments as the system splits them (behind a program name,
        // which has splitting rules of its own).
        size_t n = wcslen(commandLine);
        wchar_t *line = static_cast<wchar_t *>(malloc((n + 3) * sizeof(wchar_t)));
        wcscpy(line, L"x ");
        wcscat(line, commandLine);
        int argc = 0;
        wchar_t **argv = CommandLineToArgvW(line, &argc);
        for (int i = 1; argv && i < argc; ++i)
            recordLine(L"RunAppW.arg%d=[%ls]", i, argv[i]);
        LocalFree(argv);
        free(line);
    }
    recordLine(L"RunAppW.instance=%ls", instance == g_self ? L"self" : L"other");
    recordLine(L"RunAppW.previous=%ls", previous ? L"set" : L"null");
    recordLine(L"RunAppW.show=%d", show);
    recordLine(L"RunAppW.zero=%d", zero);
    recordLine(L"PATH=%ls", envText(L"PATH"));
    recordLine(L"KX_WI_DIR_TREE=%ls", envText(L"KX_WI_DIR_TREE"));
    recordLine(L"KX_ADD_PATH=%ls", envText(L"KX_ADD_PATH"));
    recordLine(L"QZPROFILER=%ls", envText(L"QZPROFILER"));
    recordLine(L"QT_QPA_PLATFORM_PLUGIN_PATH=%ls", envText(L"QT_QPA_PLATFORM_PLUGIN_PATH"));

    HMODULE starter = GetModuleHandleW(nullptr);
    typedef HMODULE (*InstanceFn)();
    typedef const wchar_t *(*NameFn)();
    typedef void (*TraceFn)();
    InstanceFn getInstance = reinterpret_cast<InstanceFn>(
        reinterpret_cast<void *>(GetProcAddress(starter, "GetMainDllInstance")));
    NameFn getName = reinterpret_cast<NameFn>(
        reinterpret_cast<void *>(GetProcAddress(starter, "GetMainDllNameW")));
    TraceFn trace = reinterpret_cast<TraceFn>(
        reinterpret_cast<void *>(GetProcAddress(starter, "?AddModuleToTrace@@YAXXZ")));
    recordLine(L"GetMainDllInstance=%ls",
               !getInstance ? L"<missing>" : getInstance() == g_self ? L"self" : L"other");
    recordLine(L"GetMainDllNameW=%ls", !getName ? L"<missing>" : getName());
    if (trace) {
        trace();
        recordLine(L"AddModuleToTrace=called");
    } else {
        recordLine(L"AddModuleToTrace=<missing>");
    }
    recordLine(L"crash.loaded=%ls", GetModuleHandleW(L"QzCrashReport.dll") ? L"yes" : L"no");

    // A few megabytes on the stack: the starter reserves 16 MiB for this thread.
    if (envInt(L"MT_DEEP_STACK", 0)) {
        volatile char big[8 * 1024 * 1024];
        big[0] = 1;
        big[sizeof big - 1] = 2;
        recordLine(L"deepStack=%d", big[0] + big[sizeof big - 1]);
    }
    if (envInt(L"MT_ALLOC", 0)) {
        void *block = VirtualAlloc(nullptr, 65536, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
        recordLine(L"alloc.high=%ls",
                   reinterpret_cast<ULONG_PTR>(block) >= 0x100000000ull ? L"yes" : L"no");
    }
    const wchar_t *raise = envText(L"MT_RAISE");
    if (wcscmp(raise, L"msvc") == 0) {
        // What a throw of code built with the Microsoft compiler raises.
        recordLine(L"RunAppW.raise");
        ULONG_PTR params[4] = {0x19930520, 0, 0, 0};
        RaiseException(0xE06D7363, EXCEPTION_NONCONTINUABLE, 4, params);
    } else if (wcscmp(raise, L"fault") == 0) {
        recordLine(L"RunAppW.fault");
        static volatile int *volatile nowhere = nullptr;
        *nowhere = 1;
    }
    if (envInt(L"MT_THROW", 0)) {
        recordLine(L"RunAppW.throw");
        throw 42;
    }
    return envInt(L"MT_EXIT", 7);
}
#endif

#ifndef NO_SET_THREAD
extern "C" __declspec(dllexport) void SetStartScreenThreadId(DWORD id)
{
    recordLine(L"SetStartScreenThreadId=%lu", static_cast<unsigned long>(id));
}
#endif

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH)
        g_self = instance;
    return TRUE;
}
