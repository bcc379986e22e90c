// Crash-report test module; WITH_PROCESS adds SetProcessHandlers, which
// installs a filter for unhandled exceptions that records the code and ends
// the process with it.
#include "record.h"

#ifdef WITH_PROCESS
static LONG WINAPI crashFilter(EXCEPTION_POINTERS *info)
{
    recordLine(L"crash.filter=%08lX", info->ExceptionRecord->ExceptionCode);
    return EXCEPTION_EXECUTE_HANDLER;
}

extern "C" __declspec(dllexport) void SetProcessHandlers()
{
    recordLine(L"crash.SetProcessHandlers");
    SetUnhandledExceptionFilter(crashFilter);
}
#endif

extern "C" __declspec(dllexport) void SetThreadHandlers()
{
    recordLine(L"crash.SetThreadHandlers");
}

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH)
        recordLine(L"crash.load");
    else if (reason == DLL_PROCESS_DETACH)
        recordLine(L"crash.unload");
    return TRUE;
}
