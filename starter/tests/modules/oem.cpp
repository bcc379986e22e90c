// OEM-information test module: the full IOemInfo table; identity from the
// environment (MT_PRODUCT, MT_VENDOR, MT_VERSION_1, MT_VERSION_2).
#include "context.h"
#include "record.h"

namespace {

struct TestOemInfo : IOemInfo {
    wchar_t product[300], vendor[300], user[64], company[64];
    void slot0() override { recordLine(L"oem.slot0"); }
    void Release() override { recordLine(L"oem.Release"); }
    void slot2() override { recordLine(L"oem.slot2"); }
    const wchar_t *GetProductName() override { return product; }
    void slot4() override { recordLine(L"oem.slot4"); }
    void slot5() override { recordLine(L"oem.slot5"); }
    void Finish() override { recordLine(L"oem.Finish"); }
    unsigned int GetVersion() override
    {
        return static_cast<unsigned int>(envInt(L"MT_VERSION_1", 25))
            | (static_cast<unsigned int>(envInt(L"MT_VERSION_2", 0)) << 16);
    }
    void slot8() override { recordLine(L"oem.slot8"); }
    void slot9() override { recordLine(L"oem.slot9"); }
    const wchar_t *GetUserName() override { return user; }
    const wchar_t *GetUserCompany() override { return company; }
    void slot12() override { recordLine(L"oem.slot12"); }
    void slot13() override { recordLine(L"oem.slot13"); }
    void slot14() override { recordLine(L"oem.slot14"); }
    void slot15() override { recordLine(L"oem.slot15"); }
    void slot16() override { recordLine(L"oem.slot16"); }
    const wchar_t *GetVendorName() override { return vendor; }
};

TestOemInfo g_info;

void fromEnv(const wchar_t *name, const wchar_t *fallback, wchar_t *out, size_t cap)
{
    const wchar_t *v = envText(name);
    if (wcscmp(v, L"<unset>") == 0)
        v = fallback;
    wcsncpy(out, v, cap - 1);
    out[cap - 1] = 0;
}

} // namespace

extern "C" __declspec(dllexport) IOemInfo *new_IOemInfo()
{
    recordLine(L"oem.new");
    if (envInt(L"MT_OEM_NULL", 0))
        return nullptr;
    fromEnv(L"MT_PRODUCT", L"Stadia", g_info.product, 300);
    fromEnv(L"MT_VENDOR", L"TestVendor", g_info.vendor, 300);
    fromEnv(L"MT_USER", L"Ann", g_info.user, 64);
    fromEnv(L"MT_COMPANY", L"Survey Ltd", g_info.company, 64);
    return &g_info;
}

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_DETACH)
        recordLine(L"oem.unload");
    return TRUE;
}
