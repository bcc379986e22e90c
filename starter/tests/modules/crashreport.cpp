// Crash-report test module; WITH_PROCESS adds SetProcessHandlers.
#include "record.h"

#ifdef WITH_PROCESS
extern "C" __declspec(dllexport) void SetProcessHandlers()
{
    recordLine(L"crash.SetProcessHandlers");
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
