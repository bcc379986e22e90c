// Whole runs of the starter: provisioning due and not due, removal, a
// package given twice and the start screen, in a fake installation.
#include "fixture.h"

#include <shlobj.h>

#include <string>

using namespace runkit;

namespace {

const wchar_t kVendor[] = L"VendorUserDataRuns";
const wchar_t kKey[] = L"SOFTWARE\\VendorUserDataRuns\\Stadia\\25.0";

std::string regText(const wchar_t *name)
{
    HKEY key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return "<no key>";
    wchar_t value[600] = {};
    DWORD size = sizeof value - sizeof(wchar_t);
    LONG rc = RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE *>(value), &size);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS ? narrow(value) : "<missing>";
}

void regWrite(const wchar_t *name, const wchar_t *text)
{
    HKEY key;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr))
        return;
    RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(text),
                   (DWORD)((wcslen(text) + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
}

Installation prepare(const wchar_t *name)
{
    RegDeleteTreeW(HKEY_CURRENT_USER, L"SOFTWARE\\VendorUserDataRuns");
    Installation inst = fixture::install(name);
    std::wstring plat = join(join(inst.root, L"plat"), L"x64");
    makeDirs(join(plat, L"bin"));
    writeFile(inst.config, "[\\Configuration]\r\nqPlat=sx64\r\n[\\Configuration\\qPlat\\x64]\r\nDir=s"
                               + narrow(plat) + "\r\n[\\UserData\\CopyToAppData]\r\n"
                               "UserData\\Config=Config\r\nUserData\\Samples=Samples\r\n");
    makeDirs(join(inst.bin, L"UserData\\Config"));
    makeDirs(join(inst.bin, L"UserData\\Samples"));
    writeFile(join(inst.bin, L"UserData\\Config\\settings.cfg"), "installed");
    writeFile(join(inst.bin, L"UserData\\Samples\\s1.txt"), "sample");
    return inst;
}

std::wstring userFolder()
{
    return join(join(fixture::appData(), kVendor), L"Stadia 25.0");
}

} // namespace

TEST_GROUP(ProvisioningRuns)
{
    Installation inst = prepare(L"ud_prov");
    std::wstring user = userFolder();
    removeTree(user);
    RunResult r = run(inst, fixture::options(kVendor));
    CHECK(r.exitCode == 7);
    CHECK_EQ(readFile(join(user, L"Config\\settings.cfg")), "installed");
    CHECK_EQ(readFile(join(user, L"Samples\\s1.txt")), "sample");
    CHECK_EQ(regText(L"UserDataDir"), narrow(user));

    // Not due: the recorded folder is the current one, nothing is copied.
    writeFile(join(user, L"Config\\settings.cfg"), "mine");
    DeleteFileW(join(user, L"Samples\\s1.txt").c_str());
    r = run(inst, fixture::options(kVendor));
    CHECK(r.exitCode == 7);
    CHECK_EQ(readFile(join(user, L"Config\\settings.cfg")), "mine");
    CHECK(!exists(join(user, L"Samples\\s1.txt")));
    CHECK(!exists(join(user, L"Config\\settings.cfg.bak")));

    // Due again (another folder recorded): restored, the changed file kept as .bak.
    regWrite(L"UserDataDir", L"C:\\elsewhere");
    r = run(inst, fixture::options(kVendor));
    CHECK_EQ(readFile(join(user, L"Samples\\s1.txt")), "sample");
    CHECK_EQ(readFile(join(user, L"Config\\settings.cfg")), "installed");
    CHECK_EQ(readFile(join(user, L"Config\\settings.cfg.bak")), "mine");
    CHECK_EQ(regText(L"UserDataDir"), narrow(user));

    // Unregistration: unchanged copies removed, changed files stay, record deleted.
    writeFile(join(user, L"Config\\settings.cfg"), "mine again");
    RunOptions o = fixture::options(kVendor);
    o.args = {L"-unregister"};
    r = run(inst, o);
    CHECK(r.exitCode == 0);
    CHECK(!exists(join(user, L"Samples\\s1.txt")));
    CHECK(!exists(join(user, L"Samples")));
    CHECK_EQ(readFile(join(user, L"Config\\settings.cfg")), "mine again");
    CHECK_EQ(regText(L"UserDataDir"), "<missing>");
}

TEST_GROUP(PackageRuns)
{
    Installation inst = prepare(L"ud_pkg");
    std::wstring user = userFolder();
    std::wstring pk = join(inst.root, L"Pk");
    makeDirs(join(pk, L"data"));
    writeFile(join(pk, L"data\\tool.cfg"), "tool");
    writeFile(join(pk, L"tools.ini"), "[\\UserData\\CopyToAppData]\r\ndata=Data\r\n");
    std::wstring file = join(pk, L"Tools.Extra.package");
    writeFile(file, "<ApplicationPackage><Components><ConfigEntry FileType=\"INI\" FileName=\"tools.ini\"/>"
                    "</Components></ApplicationPackage>");
    std::wstring target = join(user, L"Tools.Extra");
    removeTree(target);
    RunOptions o = fixture::options(kVendor);
    o.args = {L"-g", file};
    RunResult r = run(inst, o);
    CHECK(r.exitCode == 7);
    CHECK_EQ(readFile(join(target, L"Data\\tool.cfg")), "tool");
    CHECK_EQ(regText(L"UserDataDir_Tools.Extra"), narrow(target));
    // Given again: already installed, the newer package file is not copied.
    writeFile(join(pk, L"data\\tool.cfg"), "tool, newer");
    r = run(inst, o);
    CHECK(r.exitCode == 7);
    CHECK_EQ(readFile(join(target, L"Data\\tool.cfg")), "tool");
    // Removed with the unregistration run.
    writeFile(join(pk, L"data\\tool.cfg"), "tool");
    o.args = {L"-unregister", L"-g", file};
    r = run(inst, o);
    CHECK(r.exitCode == 0);
    CHECK_EQ(regText(L"UserDataDir_Tools.Extra"), "<missing>");

    // A relative path with forward slashes (the starter runs in its own
    // folder): the package's files are read from the package's folder.
    removeTree(target);
    o.args = {L"-g", L"../Pk/Tools.Extra.package"};
    r = run(inst, o);
    CHECK(r.exitCode == 7);
    CHECK_EQ(readFile(join(target, L"Data\\tool.cfg")), "tool");
    CHECK_EQ(regText(L"UserDataDir_Tools.Extra"), narrow(target));
}

TEST_GROUP(LongUserFolderRuns)
{
    // A vendor name that makes the user data folder 259 characters long,
    // the most it can hold (520 bytes with the terminating zero in the
    // registry): recorded, read back whole, so the next start does not
    // provision again.
    std::wstring label = L"Stadia 25.0";
    size_t vendorLen = 259 - fixture::appData().size() - label.size() - 2;
    std::wstring vendor = L"VendorLong" + std::wstring(vendorLen - 10, L'v');
    std::wstring key = L"SOFTWARE\\" + vendor + L"\\Stadia\\25.0";
    RegDeleteTreeW(HKEY_CURRENT_USER, (L"SOFTWARE\\" + vendor).c_str());
    Installation inst = prepare(L"ud_long");
    std::wstring user = join(join(fixture::appData(), vendor), label);
    CHECK(user.size() == 259);
    RunResult r = run(inst, fixture::options(vendor.c_str()));
    CHECK(r.exitCode == 7);
    wchar_t stored[300] = {};
    DWORD type = 0, size = sizeof stored;
    CHECK(RegGetValueW(HKEY_CURRENT_USER, key.c_str(), L"UserDataDir", RRF_RT_ANY, &type, stored,
                       &size) == ERROR_SUCCESS);
    CHECK(type == REG_SZ && narrow(stored) == narrow(user));

    // The same folder recorded as an expandable string: a start that
    // provisions writes it back as REG_SZ, one that does not leaves it.
    HKEY k;
    CHECK(RegOpenKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, KEY_ALL_ACCESS, &k) == ERROR_SUCCESS);
    RegSetValueExW(k, L"UserDataDir", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE *>(user.c_str()),
                   (DWORD)((user.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(k);
    r = run(inst, fixture::options(vendor.c_str()));
    CHECK(r.exitCode == 7);
    size = sizeof stored;
    CHECK(RegGetValueW(HKEY_CURRENT_USER, key.c_str(), L"UserDataDir", RRF_RT_ANY | RRF_NOEXPAND,
                       &type, stored, &size) == ERROR_SUCCESS);
    CHECK(type == REG_EXPAND_SZ);
    removeTree(join(fixture::appData(), vendor));
    RegDeleteTreeW(HKEY_CURRENT_USER, (L"SOFTWARE\\" + vendor).c_str());
}

TEST_GROUP(NoUserFolderRuns)
{
    // A vendor name too long for a user data folder: no user cfg.ini either,
    // so the platform choice is not written to \Config\cfg.ini at the
    // root of the drive the starter runs on.
    std::wstring vendor = L"VendorNoFolder" + std::wstring(211, L'n');
    std::wstring key = L"SOFTWARE\\" + vendor;
    Installation inst = prepare(L"ud_nofolder");
    std::wstring rootCfg = inst.bin.substr(0, 2) + L"\\Config\\cfg.ini";
    makeDirs(inst.bin.substr(0, 2) + L"\\Config");
    writeFile(rootCfg, "[\\Configuration]\r\n");
    RunOptions o = fixture::options(vendor.c_str());
    o.args = {L"-b", L"x64"};
    RunResult r = run(inst, o);
    CHECK(r.exitCode == 7);
    CHECK_EQ(readFile(rootCfg), "[\\Configuration]\r\n");
    removeTree(inst.bin.substr(0, 2) + L"\\Config");
    RegDeleteTreeW(HKEY_CURRENT_USER, key.c_str());

    // A product name so long that its registry key would be cut: the cut
    // text names another product's key, which is left alone.
    std::wstring product(250, L'P');
    std::wstring other = (L"SOFTWARE\\VendorCut\\" + product).substr(0, 259);
    HKEY k;
    CHECK(RegCreateKeyExW(HKEY_CURRENT_USER, other.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                          &k, nullptr) == ERROR_SUCCESS);
    RegSetValueExW(k, L"JustUpgraded", 0, REG_SZ, reinterpret_cast<const BYTE *>(L"1"), 4);
    RegCloseKey(k);
    o = fixture::options(L"VendorCut");
    o.env[L"MT_PRODUCT"] = product;
    r = run(inst, o);
    CHECK(r.exitCode == 7);
    CHECK(RegOpenKeyExW(HKEY_CURRENT_USER, other.c_str(), 0, KEY_READ, &k) == ERROR_SUCCESS);
    CHECK(RegQueryValueExW(k, L"JustUpgraded", nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS);
    CHECK(RegQueryValueExW(k, L"UserDataDir", nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS);
    RegCloseKey(k);
    RegDeleteTreeW(HKEY_CURRENT_USER, L"SOFTWARE\\VendorCut");
}

TEST_GROUP(StartScreenRuns)
{
    Installation inst = prepare(L"ud_ss");
    copyFile(windowsPath(MERIDANE_FAKE_STARTSCREEN), join(inst.bin, L"qzstartscreenqt.exe"));
    wchar_t common[MAX_PATH];
    CHECK(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, 0, common) == S_OK);
    std::wstring commonFolder = join(join(common, kVendor), L"Stadia 25.0");
    std::wstring source = join(commonFolder, L"ss20\\qzss_files");
    makeDirs(source);
    writeFile(join(source, L"ini.xml"),
              "<S><MainAppParams><Name/><Version/><AppNames><StartCaption>Hi</StartCaption><Caption/></AppNames>"
              "<UserInfo><UserName/><CompanyName/></UserInfo><DdeServer><AppName/></DdeServer>"
              "<PagesPath><HTMLsPath/></PagesPath><Dirs><QzSsFilesSource/><SamplesPath/><TestDrivePath/>"
              "<PlovrechPath/></Dirs><Status><StartString>Release</StartString><String/><Value/></Status>"
              "<Commands><ShowTab/><ShowHtmlPage/><ShowHtmlElementById/></Commands></MainAppParams></S>");
    writeFile(join(source, L"ssini.xml"), "<ss/>");
    std::wstring calls = join(inst.root, L"ss-calls.txt");
    RunOptions o = fixture::options(kVendor);
    o.env[L"MERIDANE_SS_RECORD"] = calls;
    o.args = {L"-p", L"a/b:c", L"-a", L"DdeName"};
    RunResult r = run(inst, o);
    CHECK(r.exitCode == 7);
    std::wstring ini = join(userFolder(), L"ss20\\profiles\\a$b$c\\ini.xml");
    std::string line;
    for (int i = 0; i < 400 && line.empty(); ++i) {
        line = readFile(calls);
        if (line.empty())
            Sleep(50);
    }
    CHECK_EQ(line, "qzstartscreenqt.exe \"" + narrow(ini) + "\"\n");
    std::string x = readFile(ini);
    CHECK(x.find("<Name>Stadia 25.0</Name>") != std::string::npos);
    CHECK(x.find("<UserName>Ann</UserName>") != std::string::npos);
    CHECK(x.find("<AppName>DdeName</AppName>") != std::string::npos);
    CHECK(x.find("<Caption>Hi</Caption>") != std::string::npos);
    removeTree(join(common, kVendor));
    RegDeleteTreeW(HKEY_CURRENT_USER, L"SOFTWARE\\VendorUserDataRuns");
}
