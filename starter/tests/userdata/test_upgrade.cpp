// Data folders and the first start after an upgrade.
#include "testkit.h"
#include "datacopy.h"
#include "userdata.h"

#include <shlobj.h>

using namespace testkit;

namespace {

const wchar_t kKey[] = L"SOFTWARE\\MeridaneTests\\Upg\\25.0";
const wchar_t kProfiles[] = L"SOFTWARE\\MeridaneTests\\Upg\\25.0\\Profiles";

struct Answer {
    int button;          // pressed once the dialog exists
    int created;         // how often a dialog was created
    wchar_t title[260];
};

HRESULT CALLBACK answerPrompt(HWND hwnd, UINT msg, WPARAM, LPARAM, LONG_PTR data)
{
    Answer *a = reinterpret_cast<Answer *>(data);
    if (msg == TDN_CREATED) {
        ++a->created;
        GetWindowTextW(hwnd, a->title, 260);
        PostMessageW(hwnd, TDM_CLICK_BUTTON, a->button, 0);
    }
    return S_OK;
}

struct Setup {
    std::wstring user, config, cfg;
};

Setup prepare(bool withCfg)
{
    regDeleteTree(L"SOFTWARE\\MeridaneTests\\Upg");
    Setup s;
    s.user = scratch(L"upg_user");
    s.config = join(s.user, L"Config");
    s.cfg = join(s.config, L"cfg.ini");
    makeDirs(s.config);
    if (withCfg)
        writeFile(s.cfg, "[x]\r\n");
    writeFile(join(s.config, L"a.cfg"), "a");
    writeFile(join(s.config, L"b.cfg"), "b");
    writeFile(join(s.config, L"keep.txt"), "t");
    regSet(kKey, L"JustUpgraded", L"1");
    regSet(kKey, L"UserDataDir", L"C:\\older\\folder");
    regSet((std::wstring(kProfiles) + L"\\<<Default>>").c_str(), nullptr, nullptr);
    regSet((std::wstring(kProfiles) + L"\\Survey").c_str(), L"Other", L"x");
    return s;
}

void checkConsumed()
{
    CHECK(!regGet(kKey, L"JustUpgraded", nullptr));
    std::wstring v = L"unset";
    CHECK(regGet((std::wstring(kProfiles) + L"\\<<Default>>").c_str(), L"JustUpgraded", &v) && v.empty());
    v = L"unset";
    CHECK(regGet((std::wstring(kProfiles) + L"\\Survey").c_str(), L"JustUpgraded", &v) && v.empty());
}

} // namespace

TEST_GROUP(dataFolders_formedCreatedOrEmpty)
{
    std::wstring base = scratch(L"folders");
    wchar_t out[260];
    formDataFolder(base.c_str(), L"Vendor", L"Prod 25.0", true, out);
    CHECK(std::wstring(out) == base + L"\\Vendor\\Prod 25.0");
    CHECK(exists(out));
    // A base that already ends with a backslash gets no second one.
    formDataFolder((base + L"\\").c_str(), L"Vendor", L"Prod 25.0", true, out);
    CHECK(std::wstring(out) == base + L"\\Vendor\\Prod 25.0");
    // The common folder is never created.
    formDataFolder(base.c_str(), L"Vendor", L"Other 1.0", false, out);
    CHECK(out[0] == 0 && !exists(join(base, L"Vendor\\Other 1.0")));
    formDataFolder(base.c_str(), L"Vendor", L"Prod 25.0", false, out);
    CHECK(std::wstring(out) == base + L"\\Vendor\\Prod 25.0");
    // Too long: empty and nothing created.
    std::wstring vendor(260 - base.size() - 9 - 3 + 1, L'v');
    formDataFolder(base.c_str(), vendor.c_str(), L"Prod 25.0", true, out);
    CHECK(out[0] == 0 && !exists(join(base, vendor)));
    std::wstring fits = vendor.substr(1);
    formDataFolder(base.c_str(), fits.c_str(), L"Prod 25.0", true, out);
    CHECK(wcslen(out) == 259 && exists(out));
    formDataFolder(base.c_str(), L"", L"Prod 25.0", true, out);
    CHECK(out[0] == 0);
    formDataFolder(base.c_str(), L"Vendor", L"", true, out);
    CHECK(out[0] == 0);
    formDataFolder(join(base, L"missing").c_str(), L"Vendor", L"Prod", true, out);
    CHECK(out[0] == 0 && !exists(join(base, L"missing")));

    // The real shell folders.
    wchar_t appData[MAX_PATH];
    CHECK(SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, 0, appData) == S_OK);
    determineUserDataFolder(L"MeridaneTestVendor", L"Prod 25.0", out);
    CHECK(std::wstring(out) == std::wstring(appData) + L"\\MeridaneTestVendor\\Prod 25.0" && exists(out));
    determineCommonDataFolder(L"MeridaneTestVendorAbsent", L"Prod 25.0", out);
    CHECK(out[0] == 0);
    determineUserDataFolder(nullptr, L"Prod 25.0", out);
    CHECK(out[0] == 0);
}

TEST_GROUP(backups_nextFreeFolderAndPattern)
{
    std::wstring dir = scratch(L"backup");
    makeDirs(join(dir, L"BackUpCfg01"));
    makeDirs(join(dir, L"BackUpCfg02"));
    makeDirs(join(dir, L"folder.cfg"));
    writeFile(join(dir, L"one.cfg"), "1");
    writeFile(join(dir, L"two.cfg"), "2");
    writeFile(join(dir, L"cfg.ini"), "ini");
    CHECK(backupConfigFiles(dir.c_str(), L"*.cfg", nullptr, true));
    CHECK_EQ_STR(readFile(join(dir, L"BackUpCfg03\\one.cfg")), "1");
    CHECK_EQ_STR(readFile(join(dir, L"BackUpCfg03\\two.cfg")), "2");
    CHECK(!exists(join(dir, L"one.cfg")) && !exists(join(dir, L"two.cfg")));
    CHECK(exists(join(dir, L"folder.cfg")) && !exists(join(dir, L"BackUpCfg03\\folder.cfg")));
    CHECK_EQ_STR(readFile(join(dir, L"cfg.ini")), "ini");
    CHECK(!backupConfigFiles(dir.c_str(), L"*.cfg", nullptr, true) || exists(join(dir, L"folder.cfg")));
    // A given backup folder, originals kept.
    writeFile(join(dir, L"three.cfg"), "3");
    std::wstring to = join(dir, L"BackUpCfg02");
    CHECK(backupConfigFiles(dir.c_str(), L"three.cfg", to.c_str(), false));
    CHECK_EQ_STR(readFile(join(to, L"three.cfg")), "3");
    CHECK(exists(join(dir, L"three.cfg")));
    CHECK(!backupConfigFiles(dir.c_str(), L"*.none", to.c_str(), false));
}

TEST_GROUP(upgrade_keep)
{
    Setup s = prepare(true);
    Answer a = {6, 0, {0}};
    setUpgradePromptCallback(answerPrompt, reinterpret_cast<LONG_PTR>(&a));
    handleUpgradeFor(kKey, s.user.c_str(), s.cfg.c_str(), L"Prod 25.0", L"C:\\none.wld", GetModuleHandleW(nullptr));
    setUpgradePromptCallback(nullptr, 0);
    CHECK(a.created == 1);
    CHECK(std::wstring(a.title) == L"Prod 25.0");
    std::wstring v;
    CHECK(regGet(kKey, L"UserDataDir", &v) && v == s.user);
    CHECK(exists(join(s.config, L"a.cfg")) && !exists(join(s.config, L"BackUpCfg01")));
    checkConsumed();
}

TEST_GROUP(upgrade_reset)
{
    Setup s = prepare(true);
    makeDirs(join(s.config, L"BackUpCfg01"));
    makeDirs(join(s.config, L"BackUpCfg02"));
    Answer a = {7, 0, {0}};
    setUpgradePromptCallback(answerPrompt, reinterpret_cast<LONG_PTR>(&a));
    handleUpgradeFor(kKey, s.user.c_str(), s.cfg.c_str(), L"Prod 25.0", L"", GetModuleHandleW(nullptr));
    setUpgradePromptCallback(nullptr, 0);
    CHECK(a.created == 1);
    CHECK_EQ_STR(readFile(join(s.config, L"BackUpCfg03\\a.cfg")), "a");
    CHECK_EQ_STR(readFile(join(s.config, L"BackUpCfg03\\b.cfg")), "b");
    CHECK(!exists(join(s.config, L"a.cfg")) && !exists(join(s.config, L"b.cfg")));
    CHECK(exists(join(s.config, L"keep.txt")) && exists(s.cfg));
    // After reset the stored folder keeps its earlier value: provisioning is due.
    std::wstring v;
    CHECK(regGet(kKey, L"UserDataDir", &v) && v == L"C:\\older\\folder");
    checkConsumed();
}

TEST_GROUP(upgrade_notShownWithoutUserCfg)
{
    Setup s = prepare(false);
    Answer a = {6, 0, {0}};
    setUpgradePromptCallback(answerPrompt, reinterpret_cast<LONG_PTR>(&a));
    handleUpgradeFor(kKey, s.user.c_str(), s.cfg.c_str(), L"Prod 25.0", L"", GetModuleHandleW(nullptr));
    CHECK(a.created == 0);
    std::wstring v;
    CHECK(regGet(kKey, L"UserDataDir", &v) && v == L"C:\\older\\folder");
    CHECK(exists(join(s.config, L"a.cfg")));
    checkConsumed();

    // A cfg.ini that is a folder counts as missing too.
    s = prepare(false);
    makeDirs(s.cfg);
    handleUpgradeFor(kKey, s.user.c_str(), s.cfg.c_str(), L"Prod 25.0", L"", GetModuleHandleW(nullptr));
    CHECK(a.created == 0);
    checkConsumed();

    // Not upgraded: nothing happens, the profiles stay unmarked.
    s = prepare(true);
    RegDeleteKeyValueW(HKEY_CURRENT_USER, kKey, L"JustUpgraded");
    handleUpgradeFor(kKey, s.user.c_str(), s.cfg.c_str(), L"Prod 25.0", L"", GetModuleHandleW(nullptr));
    CHECK(a.created == 0);
    CHECK(!regGet((std::wstring(kProfiles) + L"\\Survey").c_str(), L"JustUpgraded", nullptr));

    // No user data folder: no prompt even though a cfg.ini is named, and the
    // configuration folder it would imply is left alone.
    s = prepare(true);
    handleUpgradeFor(kKey, L"", s.cfg.c_str(), L"Prod 25.0", L"", GetModuleHandleW(nullptr));
    CHECK(a.created == 0);
    CHECK(exists(join(s.config, L"a.cfg")));
    checkConsumed();

    // No Profiles key: consumed, nothing marked, nothing created.
    s = prepare(false);
    regDeleteTree(kProfiles);
    handleUpgradeFor(kKey, s.user.c_str(), s.cfg.c_str(), L"Prod 25.0", L"", GetModuleHandleW(nullptr));
    CHECK(!regGet(kKey, L"JustUpgraded", nullptr));
    HKEY h;
    CHECK(RegOpenKeyExW(HKEY_CURRENT_USER, kProfiles, 0, KEY_READ, &h) != ERROR_SUCCESS);
    setUpgradePromptCallback(nullptr, 0);
    regDeleteTree(L"SOFTWARE\\MeridaneTests\\Upg");
}

namespace {

struct Texts {
    std::wstring all;
    int created;
};

BOOL CALLBACK gatherText(HWND child, LPARAM data)
{
    wchar_t text[2048];
    if (GetWindowTextW(child, text, 2048) > 0) {
        reinterpret_cast<Texts *>(data)->all += text;
        reinterpret_cast<Texts *>(data)->all += L"\n";
    }
    return TRUE;
}

HRESULT CALLBACK readAndKeep(HWND hwnd, UINT msg, WPARAM, LPARAM, LONG_PTR data)
{
    Texts *t = reinterpret_cast<Texts *>(data);
    if (msg == TDN_CREATED) {
        ++t->created;
        EnumChildWindows(hwnd, gatherText, data);
        PostMessageW(hwnd, TDM_CLICK_BUTTON, 6, 0);
    }
    return S_OK;
}

} // namespace

TEST_GROUP(upgrade_textsAndTranslation)
{
    // Untranslated first: the reset text names the user data folder twice.
    Setup s = prepare(true);
    Texts plain = {L"", 0};
    setUpgradePromptCallback(readAndKeep, reinterpret_cast<LONG_PTR>(&plain));
    handleUpgradeFor(kKey, s.user.c_str(), s.cfg.c_str(), L"Prod 25.0", L"C:\\app\\main.wld", GetModuleHandleW(nullptr));
    CHECK(plain.created == 1);
    CHECK(plain.all.find(L"Keep custom settings after upgrade") != std::wstring::npos);
    CHECK(plain.all.find(L"[ru]") == std::wstring::npos);
    CHECK(plain.all.find(s.user + L"\\Config folder") != std::wstring::npos);
    CHECK(plain.all.find(s.user + L"\\ToolPalette folder") != std::wstring::npos);

    // With the support module loaded every text is passed through it.
    HMODULE support = LoadLibraryW(L"kxicore.dll");
    CHECK(support != nullptr);
    if (!support)
        return;
    s = prepare(true);
    Texts ru = {L"", 0};
    setUpgradePromptCallback(readAndKeep, reinterpret_cast<LONG_PTR>(&ru));
    handleUpgradeFor(kKey, s.user.c_str(), s.cfg.c_str(), L"Prod 25.0", L"C:\\app\\main.wld", GetModuleHandleW(nullptr));
    setUpgradePromptCallback(nullptr, 0);
    typedef const wchar_t *(*CatalogFn)();
    CatalogFn catalog = reinterpret_cast<CatalogFn>(reinterpret_cast<void *>(GetProcAddress(support, "testCatalog")));
    CHECK(catalog && std::wstring(catalog()) == L"C:\\app\\main.wld");
    CHECK(ru.created == 1);
    CHECK(ru.all.find(L"[ru] Keep custom settings after upgrade") != std::wstring::npos);
    CHECK(ru.all.find(L"[ru] You can keep") != std::wstring::npos);
    CHECK(ru.all.find(L"[ru] Reset custom settings") != std::wstring::npos);
    CHECK(ru.all.find(s.user + L"\\Config folder") != std::wstring::npos);
    CHECK(ru.all.find(L" 100%d %n") != std::wstring::npos);
    std::wstring v;
    CHECK(regGet(kKey, L"UserDataDir", &v) && v == s.user);
    checkConsumed();
    FreeLibrary(support);
}
