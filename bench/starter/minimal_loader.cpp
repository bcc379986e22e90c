// The least a program can do to run the main module: load it and call
// RunAppW with the same arguments the starter passes.
#include <windows.h>

typedef int (*RunAppFn)(HINSTANCE, HINSTANCE, const wchar_t *, int, int);

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR commandLine, int show)
{
    HMODULE module = LoadLibraryW(L"Meridane.dll");
    if (!module)
        return 255;
    RunAppFn run = reinterpret_cast<RunAppFn>(
        reinterpret_cast<void *>(GetProcAddress(module, "RunAppW")));
    if (!run)
        return 255;
    return run(module, nullptr, commandLine, show, 0);
}
