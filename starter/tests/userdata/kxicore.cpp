// Stand-in for the product's support module: records the catalogue path it
// is initialised with and "translates" by prefixing "[ru] ", into one buffer
// that the next call overwrites. The reset text gains a stray "%d" to show
// that translated texts are never used as formats.
#include <windows.h>

#include <string>

static std::wstring g_catalog;
static std::wstring g_last;

extern "C" int suppInit(const wchar_t *catalog)
{
    g_catalog = catalog ? catalog : L"";
    return 1;
}

extern "C" const wchar_t *suppTranslate(const wchar_t *text)
{
    std::wstring &slot = g_last;
    slot = L"[ru] ";
    slot += text;
    if (slot.find(L"%s") != std::wstring::npos)
        slot += L" 100%d %n";
    return slot.c_str();
}

extern "C" __declspec(dllexport) const wchar_t *testCatalog()
{
    return g_catalog.c_str();
}
