// Self-registering test module. With WITH_INSTALL it exports KxDllInstallW,
// with WITH_SERVER the register and unregister entry points. Results come
// from MT_INSTALL_USER, MT_INSTALL_ALL and MT_REGISTER (default 0).
#include "record.h"

#ifdef WITH_INSTALL
extern "C" __declspec(dllexport) HRESULT KxDllInstallW(const wchar_t *starter, int zero, int install,
                                                      const wchar_t *scope)
{
    bool user = scope && wcscmp(scope, L"user") == 0;
    int result = user ? envInt(L"MT_INSTALL_USER", 0) : envInt(L"MT_INSTALL_ALL", 0);
    recordLine(L"%ls.install(%d,%ls)=%d zero=%d starter=%ls", selfName(), install,
               scope ? scope : L"<null>", result, zero, starter ? starter : L"<null>");
    return result;
}
#endif

#ifdef WITH_SERVER
extern "C" __declspec(dllexport) HRESULT KxDllRegisterServerW(const wchar_t *starter, int zero)
{
    int result = envInt(L"MT_REGISTER", 0);
    recordLine(L"%ls.register=%d zero=%d", selfName(), result, zero);
    return result;
}

extern "C" __declspec(dllexport) HRESULT KxDllUnRegisterServerW(const wchar_t *starter, int zero)
{
    recordLine(L"%ls.unregister zero=%d", selfName(), zero);
    return 0;
}
#endif

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH)
        recordLine(L"%ls.loaded", selfName());
    return TRUE;
}
