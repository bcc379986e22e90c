// Section reader, tree copy and removal, provisioning and packages.
#include "testkit.h"
#include "datacopy.h"

#include <string>
#include <vector>

using namespace testkit;

namespace {

const wchar_t kProvKey[] = L"SOFTWARE\\MeridaneTests\\Prov\\25.0";
const wchar_t kKey[] = L"SOFTWARE\\MeridaneTests\\Pkg\\25.0";

struct Seen { std::vector<std::wstring> keys, values; };
void collect(const wchar_t *k, const wchar_t *v, void *ctx)
{
    static_cast<Seen *>(ctx)->keys.push_back(k);
    static_cast<Seen *>(ctx)->values.push_back(v);
}

std::string utf16le(const std::wstring &s)
{
    std::string out("\xFF\xFE", 2);
    for (wchar_t c : s) { out.push_back((char)(c & 0xFF)); out.push_back((char)(c >> 8)); }
    return out;
}

} // namespace

TEST_GROUP(sectionReader_entriesKeysAndValues)
{
    std::wstring dir = scratch(L"section1");
    std::wstring ini = join(dir, L"a.ini");
    writeFile(ini, "[\\UserData\\CopyToAppData]\r\nUserData\\Config=Config\r\n@=ignored\r\n"
                   "Templates=\r\nNoEquals\r\nk=v=w\r\n[Other]\r\nx=y\r\n");
    Seen seen;
    CHECK(readSection(ini.c_str(), L"\\UserData\\CopyToAppData", collect, &seen));
    CHECK(seen.keys.size() == 4);
    if (seen.keys.size() == 4) {
        CHECK(seen.keys[0] == L"UserData\\Config" && seen.values[0] == L"Config");
        CHECK(seen.keys[1] == L"Templates" && seen.values[1].empty());
        CHECK(seen.keys[2] == L"NoEquals" && seen.values[2].empty());
        CHECK(seen.keys[3] == L"k" && seen.values[3] == L"v=w");
    }
    Seen none;
    CHECK(readSection(ini.c_str(), L"\\Missing", collect, &none));
    CHECK(none.keys.empty());
    CHECK(readSection(join(dir, L"nofile.ini").c_str(), L"\\UserData\\CopyToAppData", collect, &none));
    CHECK(none.keys.empty());
}

TEST_GROUP(sectionReader_largeSectionAndLongEntries)
{
    // About 20 000 characters of entries: read through a buffer of 3 x 8192.
    std::wstring dir = scratch(L"section2");
    std::wstring ini = join(dir, L"big.ini");
    std::wstring text = L"[S]\r\n";
    int entries = 0;
    size_t chars = 0;
    while (chars < 20000) {
        wchar_t line[64];
        swprintf(line, 64, L"Folder%05d=Target%05d", entries, entries);
        text += line;
        text += L"\r\n";
        chars += wcslen(line) + 1;
        ++entries;
    }
    // Entries of 259 characters and more are skipped, shorter ones kept.
    std::wstring ok259(255, L'a');      // "a...a=b" is 257 characters
    std::wstring tooLong(300, L'b');
    text += ok259 + L"=b\r\n" + tooLong + L"=c\r\nLast=1\r\n";
    writeFile(ini, utf16le(text));
    Seen seen;
    CHECK(readSection(ini.c_str(), L"S", collect, &seen));
    CHECK((int)seen.keys.size() == entries + 2);
    if ((int)seen.keys.size() == entries + 2) {
        CHECK(seen.keys[0] == L"Folder00000");
        CHECK(seen.values[entries - 1] == L"Target" + std::to_wstring(100000 + entries - 1).substr(1));
        CHECK(seen.keys[entries] == ok259);
        CHECK(seen.keys[entries + 1] == L"Last" && seen.values[entries + 1] == L"1");
    }
}

TEST_GROUP(copyTree_copyKeepsChangedFilesAsBak)
{
    std::wstring src = scratch(L"copy_src"), dst = scratch(L"copy_dst");
    makeDirs(join(src, L"sub\\deeper"));
    writeFile(join(src, L"same.txt"), "installed");
    writeFile(join(src, L"changed.txt"), "installed v2");
    writeFile(join(src, L"new.txt"), "new");
    writeFile(join(src, L"sub\\deeper\\leaf.txt"), "leaf");
    // The user's copy of same.txt has equal size and time: left alone even
    // though its content differs (only size and time count).
    writeFile(join(dst, L"same.txt"), "INSTALLED");
    CopyFileW(join(src, L"same.txt").c_str(), join(dst, L"same.ref").c_str(), FALSE);
    HANDLE a = CreateFileW(join(src, L"same.txt").c_str(), GENERIC_READ, FILE_SHARE_READ, 0, OPEN_EXISTING, 0, 0);
    FILETIME t; GetFileTime(a, 0, 0, &t); CloseHandle(a);
    HANDLE b = CreateFileW(join(dst, L"same.txt").c_str(), FILE_WRITE_ATTRIBUTES, 0, 0, OPEN_EXISTING, 0, 0);
    SetFileTime(b, 0, 0, &t); CloseHandle(b);
    DeleteFileW(join(dst, L"same.ref").c_str());
    writeFile(join(dst, L"changed.txt"), "my own settings");
    setTime(join(dst, L"changed.txt"), 30);
    writeFile(join(dst, L"changed.txt.bak"), "older backup");

    CHECK(filesMatch(join(src, L"same.txt").c_str(), join(dst, L"same.txt").c_str()));
    CHECK(!filesMatch(join(src, L"changed.txt").c_str(), join(dst, L"changed.txt").c_str()));
    CHECK(!filesMatch(join(src, L"new.txt").c_str(), join(dst, L"new.txt").c_str()));

    CHECK(copyTree(src.c_str(), dst.c_str(), false));
    CHECK_EQ_STR(readFile(join(dst, L"same.txt")), "INSTALLED");
    CHECK(!exists(join(dst, L"same.txt.bak")));
    CHECK_EQ_STR(readFile(join(dst, L"changed.txt")), "installed v2");
    CHECK_EQ_STR(readFile(join(dst, L"changed.txt.bak")), "my own settings");
    CHECK_EQ_STR(readFile(join(dst, L"new.txt")), "new");
    CHECK_EQ_STR(readFile(join(dst, L"sub\\deeper\\leaf.txt")), "leaf");
    // Copied files keep their time, so a second copy changes nothing.
    CHECK(filesMatch(join(src, L"new.txt").c_str(), join(dst, L"new.txt").c_str()));
    CHECK(copyTree(src.c_str(), dst.c_str(), false));
    CHECK_EQ_STR(readFile(join(dst, L"changed.txt.bak")), "my own settings");

    CHECK(!copyTree(join(src, L"absent").c_str(), dst.c_str(), false));
}

TEST_GROUP(copyTree_removeDeletesOnlyUnchanged)
{
    std::wstring src = scratch(L"rm_src"), dst = scratch(L"rm_dst");
    makeDirs(join(src, L"clean\\inner"));
    makeDirs(join(src, L"dirty"));
    writeFile(join(src, L"top.txt"), "top");
    writeFile(join(src, L"clean\\inner\\a.txt"), "a");
    writeFile(join(src, L"dirty\\b.txt"), "b");
    writeFile(join(src, L"dirty\\c.txt"), "c");
    CHECK(copyTree(src.c_str(), dst.c_str(), false));
    writeFile(join(dst, L"dirty\\b.txt"), "user changed b");
    writeFile(join(dst, L"mine.txt"), "user's own file");

    CHECK(copyTree(src.c_str(), dst.c_str(), true));
    CHECK(!exists(join(dst, L"top.txt")));
    CHECK(!exists(join(dst, L"clean")));                 // emptied, so removed
    CHECK(exists(join(dst, L"dirty")));                  // still holds a changed file
    CHECK_EQ_STR(readFile(join(dst, L"dirty\\b.txt")), "user changed b");
    CHECK(!exists(join(dst, L"dirty\\c.txt")));
    CHECK_EQ_STR(readFile(join(dst, L"mine.txt")), "user's own file");
    // Removing from a missing target walks the source and touches nothing.
    CHECK(copyTree(src.c_str(), join(dst, L"nothing-here").c_str(), true));
    CHECK(!exists(join(dst, L"nothing-here")));
}

TEST_GROUP(copyTree_pathsBeyondBuffersAreSkipped)
{
    std::wstring src = scratch(L"long_src"), dst = scratch(L"long_dst");
    // Target names that only fit the source side: the target path exceeds
    // 259 characters and the item is skipped, its neighbours still copied.
    size_t room = 258 - src.size();
    std::wstring name(room > 200 ? 200 : room, L'n');
    std::wstring dstLong = dst + L"\\" + std::wstring(80, L'd');
    CreateDirectoryW(dstLong.c_str(), nullptr);
    writeFile(join(src, name), "long");
    writeFile(join(src, L"short.txt"), "short");
    CHECK(copyTree(src.c_str(), dstLong.c_str(), false));
    CHECK_EQ_STR(readFile(join(dstLong, L"short.txt")), "short");
    CHECK(dstLong.size() + 1 + name.size() < 260 || !exists(join(dstLong, name)));
    std::wstring huge(400, L'x');
    CHECK(!copyTree(huge.c_str(), dst.c_str(), false));
}

TEST_GROUP(provisioning_copyRemoveAndRecord)
{
    regDeleteTree(kProvKey);
    std::wstring inst = scratch(L"prov_inst"), user = scratch(L"prov_user");
    makeDirs(join(inst, L"UserData\\Config"));
    makeDirs(join(inst, L"UserData\\Samples"));
    writeFile(join(inst, L"UserData\\Config\\cfg.ini"), "[x]\r\n");
    writeFile(join(inst, L"UserData\\Config\\ui.cfg"), "ui");
    writeFile(join(inst, L"UserData\\Samples\\s1.dwg"), "s1");
    writeFile(join(inst, L"UserData\\escape.txt"), "escape");
    std::wstring cfg = join(inst, L"install.ini");
    writeFile(cfg, "[\\UserData\\CopyToAppData]\r\nUserData\\Config=Config\r\nUserData\\Samples=\r\n"
                   "UserData=..\\outside\r\nMissing=Nowhere\r\n");

    provisionUserData(cfg.c_str(), inst.c_str(), user.c_str(), kProvKey, false);
    CHECK_EQ_STR(readFile(join(user, L"Config\\cfg.ini")), "[x]\r\n");
    CHECK_EQ_STR(readFile(join(user, L"Config\\ui.cfg")), "ui");
    CHECK_EQ_STR(readFile(join(user, L"s1.dwg")), "s1");
    // A value leading out of the user data folder is not followed.
    CHECK(!exists(join(user, L"..\\outside")));
    std::wstring stored;
    CHECK(regGet(kProvKey, L"UserDataDir", &stored) && stored == user);

    // Provisioning not due: nothing runs, the user's change stays.
    writeFile(join(user, L"Config\\ui.cfg"), "user ui");
    provisionUserData(cfg.c_str(), inst.c_str(), user.c_str(), kProvKey, true);
    CHECK(!exists(join(user, L"Config\\cfg.ini")));
    CHECK_EQ_STR(readFile(join(user, L"Config\\ui.cfg")), "user ui");
    CHECK(exists(join(user, L"Config")));
    CHECK(!exists(join(user, L"s1.dwg")));
    CHECK(!regGet(kProvKey, L"UserDataDir", nullptr));

    // An empty user data folder provisions nothing (it would mean the drive root).
    provisionUserData(cfg.c_str(), inst.c_str(), L"", kProvKey, false);
    CHECK(!exists(L"\\Config\\ui.cfg") || readFile(L"\\Config\\ui.cfg") != "ui");
    CHECK(regGet(kProvKey, L"UserDataDir", &stored) && stored.empty());
    regDeleteTree(kProvKey);
}

namespace {

void makePackage(const std::wstring &dir, const std::wstring &file, const std::string &xml)
{
    writeFile(join(dir, file), xml);
    makeDirs(join(dir, L"pkgdata\\Menus"));
    writeFile(join(dir, L"pkgdata\\Menus\\menu.cfg"), "menu");
    writeFile(join(dir, L"pkgdata\\tool.cfg"), "tool");
    writeFile(join(dir, L"pkg.ini"), "[\\UserData\\CopyToAppData]\r\npkgdata=Data\r\npkgdata\\Menus=\r\n"
                                     "pkgdata=..\\..\\escaped\r\n");
}

const char kGoodPackage[] =
    "<?xml version=\"1.0\"?><ApplicationPackage><Components>"
    "<ConfigEntry FileType=\"DLL\" FileName=\"tools.dll\"/>"
    "<ConfigEntry FileType=\"INI\" FileName=\"pkg.ini\"/>"
    "<ConfigEntry FileType=\"INI\" FileName=\"other.ini\"/>"
    "</Components></ApplicationPackage>";

} // namespace

TEST_GROUP(packages_nameTargetAndValue)
{
    wchar_t name[260];
    CHECK(packageNameOf(L"C:\\Pk\\Tools.Extra.package", name, 260));
    CHECK(std::wstring(name) == L"Tools.Extra");
    CHECK(packageNameOf(L"C:/Pk/Plain.package", name, 260) && std::wstring(name) == L"Plain");
    CHECK(!packageNameOf(L"C:\\Pk\\..package", name, 260));
    CHECK(!packageNameOf(L"C:\\Pk\\.package", name, 260));
    CHECK(!packageNameOf(L"C:\\Pk\\...package", name, 260));
    std::wstring longName(300, L'p');
    CHECK(!packageNameOf((longName + L".package").c_str(), name, 260));

    regDeleteTree(kKey);
    std::wstring pk = scratch(L"pkg_src"), user = scratch(L"pkg_user");
    makePackage(pk, L"Tools.Extra.package", kGoodPackage);
    std::wstring file = join(pk, L"Tools.Extra.package");
    installPackage(file.c_str(), user.c_str(), kKey, false);
    std::wstring target = join(user, L"Tools.Extra");
    CHECK_EQ_STR(readFile(join(target, L"Data\\tool.cfg")), "tool");
    CHECK_EQ_STR(readFile(join(target, L"Data\\Menus\\menu.cfg")), "menu");
    CHECK_EQ_STR(readFile(join(target, L"menu.cfg")), "menu");
    CHECK(!exists(join(user, L"..\\escaped")) && !exists(join(pk, L"..\\escaped")));
    std::wstring stored;
    CHECK(regGet(kKey, L"UserDataDir_Tools.Extra", &stored) && stored == target);

    // The same package again: already installed, nothing is copied.
    writeFile(join(pk, L"pkgdata\\tool.cfg"), "tool v2!");
    DeleteFileW(join(target, L"menu.cfg").c_str());
    installPackage(file.c_str(), user.c_str(), kKey, false);
    CHECK_EQ_STR(readFile(join(target, L"Data\\tool.cfg")), "tool");
    CHECK(!exists(join(target, L"menu.cfg")));

    // Removal deletes the unchanged copies and the value; the changed file stays.
    installPackage(file.c_str(), user.c_str(), kKey, true);
    CHECK(!exists(join(target, L"Data\\Menus")));
    CHECK_EQ_STR(readFile(join(target, L"Data\\tool.cfg")), "tool");
    CHECK(!regGet(kKey, L"UserDataDir_Tools.Extra", nullptr));

    // Target folder gone: installing again copies afresh.
    installPackage(file.c_str(), user.c_str(), kKey, false);
    CHECK(regGet(kKey, L"UserDataDir_Tools.Extra", &stored) && stored == target);
    CHECK_EQ_STR(readFile(join(target, L"menu.cfg")), "menu");
    regDeleteTree(kKey);
}

TEST_GROUP(packages_invalidChangeNothing)
{
    regDeleteTree(kKey);
    std::wstring pk = scratch(L"pkg_bad"), user = scratch(L"pkg_bad_user");
    struct Case { const wchar_t *file; const char *xml; bool recorded; } cases[] = {
        {L"broken.package", "<ApplicationPackage><Components>", false},
        {L"otherroot.package", "<Package><Components><ConfigEntry FileType=\"INI\" FileName=\"pkg.ini\"/></Components></Package>", false},
        {L"notype.package", "<ApplicationPackage><Components><ConfigEntry FileName=\"x\"/>"
                            "<ConfigEntry FileType=\"INI\" FileName=\"pkg.ini\"/></Components></ApplicationPackage>", false},
        {L"noname.package", "<ApplicationPackage><Components><ConfigEntry FileType=\"INI\"/></Components></ApplicationPackage>", false},
        {L"lower.package", "<ApplicationPackage><Components><ConfigEntry FileType=\"ini\" FileName=\"pkg.ini\"/></Components></ApplicationPackage>", true},
        {L"noini.package", "<ApplicationPackage><Components/></ApplicationPackage>", true},
    };
    for (const Case &c : cases) {
        makePackage(pk, c.file, c.xml);
        installPackage(join(pk, c.file).c_str(), user.c_str(), kKey, false);
        std::wstring name(c.file);
        name = name.substr(0, name.rfind(L'.'));
        CHECK(!exists(join(user, name + L"\\Data")));
        CHECK(!exists(join(user, name + L"\\menu.cfg")));
        CHECK(regGet(kKey, (L"UserDataDir_" + name).c_str(), nullptr) == c.recorded);
    }
    // Package named "..": its target would be the user data folder's parent.
    makePackage(pk, L"..package", kGoodPackage);
    installPackage(join(pk, L"..package").c_str(), user.c_str(), kKey, false);
    CHECK(!exists(join(user, L"Data")) && !exists(join(user, L"..\\Data")));
    CHECK(!exists(join(user, L"menu.cfg")) && !exists(join(user, L"..\\menu.cfg")));
    installPackage(join(pk, L"..package").c_str(), user.c_str(), kKey, true);
    CHECK(exists(user));
    // Missing package file.
    installPackage(join(pk, L"absent.package").c_str(), user.c_str(), kKey, false);
    CHECK(!exists(join(user, L"absent")));
    regDeleteTree(kKey);
}
