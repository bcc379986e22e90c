// The parameter file ini.xml and the start-screen launch.
#include "testkit.h"
#include "datacopy.h"
#include "paramfile.h"
#include "startscreen.h"

#include <string>

using namespace testkit;

namespace {

const char kIniXml[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
    "<StartScreen>\r\n"
    "  <MainAppParams>\r\n"
    "    <Name>old</Name><Version>0.0</Version>\r\n"
    "    <AppNames><StartCaption>Welcome to Prod</StartCaption><Caption>x</Caption></AppNames>\r\n"
    "    <UserInfo><UserName/><CompanyName/></UserInfo>\r\n"
    "    <DdeServer><AppName/></DdeServer>\r\n"
    "    <PagesPath><HTMLsPath/></PagesPath>\r\n"
    "    <Dirs><QzSsFilesSource/><SamplesPath/><TestDrivePath/><PlovrechPath/></Dirs>\r\n"
    "    <Status><StartString>Release</StartString><String/><Value>0</Value></Status>\r\n"
    "    <Commands><ShowTab>2</ShowTab><ShowHtmlPage>p</ShowHtmlPage><ShowHtmlElementById>e</ShowHtmlElementById></Commands>\r\n"
    "  </MainAppParams>\r\n"
    "  <Other keep=\"yes\">untouched</Other>\r\n"
    "</StartScreen>\r\n";

std::string between(const std::string &text, const std::string &tag)
{
    size_t a = text.find("<" + tag + ">");
    if (a == std::string::npos)
        return "<no " + tag + ">";
    a += tag.size() + 2;
    size_t b = text.find("</" + tag + ">", a);
    return b == std::string::npos ? "<open " + tag + ">" : text.substr(a, b - a);
}

struct Folders {
    std::wstring common, user, source;
};

Folders layout(const wchar_t *name)
{
    Folders f;
    std::wstring base = scratch(name);
    f.common = join(base, L"common");
    f.user = join(base, L"user");
    f.source = join(f.common, L"ss20\\qzss_files");
    makeDirs(f.source);
    makeDirs(f.user);
    writeFile(join(f.source, L"ini.xml"), kIniXml);
    writeFile(join(f.source, L"ssini.xml"), "<ss/>");
    makeDirs(join(f.source, L"htmls"));
    writeFile(join(f.source, L"htmls\\index.html"), "<html/>");
    return f;
}

StartScreenRecord record(const Folders &f, const wchar_t *profile, const wchar_t *build)
{
    static std::wstring common, user;
    common = f.common;
    user = f.user;
    StartScreenRecord r;
    r.commonDataFolder = common.c_str();
    r.userDataFolder = user.c_str();
    r.appName = L"ProdApp";
    r.userName = L"Ivan";
    r.userCompany = L"Geo & Co";
    r.profile = profile;
    r.productLabel = L"Prod 25.0";
    r.versionText = L"25.0";
    r.installerBuild = build;
    return r;
}

std::wstring recordFile()
{
    static std::wstring path;
    if (path.empty()) {
        path = join(scratch(L"ss_record"), L"calls.txt");
        SetEnvironmentVariableW(L"MERIDANE_SS_RECORD", path.c_str());
    }
    return path;
}

// Waits (up to 20 s) until the stand-in program has written count lines.
std::string waitForCalls(size_t count)
{
    std::string text;
    for (int i = 0; i < 400; ++i) {
        text = readFile(recordFile());
        size_t lines = 0;
        for (char c : text) lines += c == '\n';
        if (text != "<missing>" && lines >= count)
            return text;
        Sleep(50);
    }
    return text;
}

} // namespace

TEST_GROUP(paramFile_updatedWithBuildLabel)
{
    Folders f = layout(L"pf1");
    std::wstring profile = join(f.user, L"prof"), ini = join(profile, L"ini.xml");
    makeDirs(profile);
    writeFile(ini, kIniXml);
    StartScreenRecord r = record(f, L"p", L"7032");
    CHECK(updateParamFile(r, ini.c_str(), profile.c_str()) == S_OK);
    std::string x = readFile(ini);
    CHECK_EQ_STR(between(x, "Name"), "Prod 25.0");
    CHECK_EQ_STR(between(x, "Version"), "25.0");
    CHECK_EQ_STR(between(x, "Caption"), "Welcome to Prod");
    CHECK_EQ_STR(between(x, "UserName"), "Ivan");
    CHECK_EQ_STR(between(x, "CompanyName"), "Geo &amp; Co");
    CHECK_EQ_STR(between(x, "AppName"), "ProdApp");
    CHECK_EQ_STR(between(x, "HTMLsPath"), narrow(profile + L"\\htmls"));
    CHECK_EQ_STR(between(x, "QzSsFilesSource"), narrow(f.common + L"\\ss20\\qzss_files"));
    CHECK_EQ_STR(between(x, "SamplesPath"), narrow(f.user + L"\\Samples"));
    CHECK_EQ_STR(between(x, "TestDrivePath"), narrow(f.user + L"\\TestDrive"));
    CHECK_EQ_STR(between(x, "PlovrechPath"), narrow(f.user + L"\\plovrech"));
    CHECK_EQ_STR(between(x, "String"), "Release (7032)");
    CHECK_EQ_STR(between(x, "StartString"), "Release");
    CHECK_EQ_STR(between(x, "Value"), "1");
    CHECK(x.find("<ShowTab/>") != std::string::npos || between(x, "ShowTab").empty());
    CHECK(x.find("<Other keep=\"yes\">untouched</Other>") != std::string::npos);
    // Again with another label: built from the template, not accumulated.
    r.installerBuild = L"7040";
    CHECK(updateParamFile(r, ini.c_str(), profile.c_str()) == S_OK);
    CHECK_EQ_STR(between(readFile(ini), "String"), "Release (7040)");
    r.installerBuild = L"";
    CHECK(updateParamFile(r, ini.c_str(), profile.c_str()) == S_OK);
    CHECK_EQ_STR(between(readFile(ini), "String"), "Release");
}

TEST_GROUP(paramFile_labelledTextExactLength)
{
    // The string's length is its characters: no trailing zero character
    // that the XML component would write into the file.
    BSTR text = labelledText(L"Release", L"7032");
    CHECK(text != nullptr);
    CHECK_EQ_STR(narrow(text), "Release (7032)");
    CHECK(SysStringLen(text) == 14);
    SysFreeString(text);
    text = labelledText(L"", L"1");
    CHECK(SysStringLen(text) == 4);
    SysFreeString(text);
}

TEST_GROUP(paramFile_repairedOrLeftUntouched)
{
    Folders f = layout(L"pf2");
    std::wstring profile = join(f.user, L"prof"), ini = join(profile, L"ini.xml");
    makeDirs(profile);
    StartScreenRecord r = record(f, L"p", L"");
    // Damaged: replaced by the installation's copy, then updated.
    writeFile(ini, "<StartScreen><MainAppParams><Name>broken");
    CHECK(updateParamFile(r, ini.c_str(), profile.c_str()) == S_OK);
    std::string x = readFile(ini);
    CHECK_EQ_STR(between(x, "Name"), "Prod 25.0");
    CHECK_EQ_STR(between(x, "String"), "Release");
    // Missing: also taken from the installation.
    DeleteFileW(ini.c_str());
    CHECK(updateParamFile(r, ini.c_str(), profile.c_str()) == S_OK);
    CHECK_EQ_STR(between(readFile(ini), "Version"), "25.0");

    // Without SamplesPath: the file on disk stays byte for byte.
    std::string noSamples = kIniXml;
    noSamples.replace(noSamples.find("<SamplesPath/>"), 14, "");
    writeFile(ini, noSamples);
    CHECK(updateParamFile(r, ini.c_str(), profile.c_str()) != S_OK);
    CHECK(readFile(ini) == noSamples);

    // Damaged and no installation copy: fails, file left as it was.
    Folders g = f;
    g.common = join(f.user, L"nocommon");
    StartScreenRecord r2 = record(g, L"p", L"");
    writeFile(ini, "<broken");
    CHECK(updateParamFile(r2, ini.c_str(), profile.c_str()) != S_OK);
    CHECK_EQ_STR(readFile(ini), "<broken");
    r2.commonDataFolder = L"";
    CHECK(updateParamFile(r2, ini.c_str(), profile.c_str()) != S_OK);
    CHECK_EQ_STR(readFile(ini), "<broken");
}

TEST_GROUP(startScreen_profileNames)
{
    wchar_t out[260];
    safeProfileName(L"<<Default>>", out, 260);
    CHECK(std::wstring(out) == L"$$Default$$");
    safeProfileName(L"a/b:c", out, 260);
    CHECK(std::wstring(out) == L"a$b$c");
    safeProfileName(L"<>/\\\":;?*|,=`ok", out, 260);
    CHECK(std::wstring(out) == L"$$$$$$$$$$$$$ok");
    safeProfileName(L".", out, 260);
    CHECK(std::wstring(out) == L"$");
    safeProfileName(L"..", out, 260);
    CHECK(std::wstring(out) == L"$$");
    safeProfileName(L"..\\..", out, 260);
    CHECK(std::wstring(out) == L"..$..");
    safeProfileName(L"v1.2", out, 260);
    CHECK(std::wstring(out) == L"v1.2");
    std::wstring longName(400, L'q');
    safeProfileName(longName.c_str(), out, 260);
    CHECK(wcslen(out) == 259);
}

TEST_GROUP(startScreen_launchAndCommandLine)
{
    Folders f = layout(L"ss1");
    std::wstring calls = recordFile();
    DeleteFileW(calls.c_str());
    StartScreenRecord r = record(f, L"<<Default>>", L"7032");
    DWORD tid = launchStartScreen(r);
    CHECK(tid != 0);
    std::wstring profile = f.user + L"\\ss20\\profiles\\$$Default$$";
    std::wstring ini = profile + L"\\ini.xml";
    std::string line = waitForCalls(1);
    CHECK_EQ_STR(line, "qzstartscreenqt.exe \"" + narrow(ini) + "\"\n");
    CHECK_EQ_STR(readFile(profile + L"\\htmls\\index.html"), "<html/>");
    CHECK_EQ_STR(readFile(profile + L"\\ssini.xml"), "<ss/>");
    CHECK_EQ_STR(between(readFile(ini), "String"), "Release (7032)");
    CHECK(readFile(f.source + L"\\ini.xml") == kIniXml);   // the installation's copy stays

    r.profile = L"a/b:c";
    CHECK(launchStartScreen(r) != 0);
    CHECK(exists(f.user + L"\\ss20\\profiles\\a$b$c\\ini.xml"));
    waitForCalls(2);

    // "." and ".." stay inside the profiles folder.
    r.profile = L"..";
    writeFile(f.source + L"\\last.version", "5");
    std::wstring sibling = f.user + L"\\ss20\\profiles\\$$Default$$\\ssini.xml";
    CHECK(launchStartScreen(r) != 0);
    CHECK(exists(f.user + L"\\ss20\\profiles\\$$\\ini.xml"));
    CHECK(exists(sibling));
    CHECK(exists(f.user + L"\\ss20\\profiles\\a$b$c\\ini.xml"));
    r.profile = L".";
    CHECK(launchStartScreen(r) != 0);
    CHECK(exists(f.user + L"\\ss20\\profiles\\$\\ini.xml"));
    CHECK(exists(sibling));
    waitForCalls(4);
}

TEST_GROUP(startScreen_refreshByLastVersion)
{
    Folders f = layout(L"ss2");
    recordFile();
    StartScreenRecord r = record(f, L"Survey", L"");
    std::wstring profile = f.user + L"\\ss20\\profiles\\Survey";
    std::wstring marker = profile + L"\\user-marker.txt";
    writeFile(f.source + L"\\last.version", "12\r\n");
    CHECK(launchStartScreen(r) != 0);
    CHECK_EQ_STR(readFile(profile + L"\\last.version"), "12\r\n");
    writeFile(marker, "mine");
    // Same number: kept.
    CHECK(launchStartScreen(r) != 0);
    CHECK(exists(marker));
    // Higher number: deleted and copied afresh.
    writeFile(f.source + L"\\last.version", "13");
    CHECK(launchStartScreen(r) != 0);
    CHECK(!exists(marker));
    CHECK_EQ_STR(readFile(profile + L"\\last.version"), "13");
    CHECK(exists(profile + L"\\htmls\\index.html"));
    // Profile number not a number: no refresh.
    writeFile(marker, "mine");
    writeFile(profile + L"\\last.version", "abc");
    writeFile(f.source + L"\\last.version", "14");
    CHECK(launchStartScreen(r) != 0);
    CHECK(exists(marker));
    // Profile without last.version: refreshed.
    DeleteFileW((profile + L"\\last.version").c_str());
    CHECK(launchStartScreen(r) != 0);
    CHECK(!exists(marker));
    // Source without last.version: never refreshed.
    writeFile(marker, "mine");
    DeleteFileW((f.source + L"\\last.version").c_str());
    DeleteFileW((profile + L"\\last.version").c_str());
    CHECK(launchStartScreen(r) != 0);
    CHECK(exists(marker));
    waitForCalls(6);
}

TEST_GROUP(startScreen_withoutFolders)
{
    Folders f = layout(L"ss3");
    recordFile();
    StartScreenRecord r = record(f, L"Empty", L"");
    r.commonDataFolder = L"";
    // No common folder and no parameter files yet: no start screen.
    CHECK(launchStartScreen(r) == 0);
    std::wstring profile = f.user + L"\\ss20\\profiles\\Empty";
    CHECK(exists(profile));
    // Both parameter files present: started all the same.
    writeFile(profile + L"\\ini.xml", kIniXml);
    writeFile(profile + L"\\ssini.xml", "<ss/>");
    CHECK(launchStartScreen(r) != 0);
    CHECK_EQ_STR(between(readFile(profile + L"\\ini.xml"), "QzSsFilesSource"), "\\ss20\\qzss_files");
    // Only one of them: the copy is needed and fails.
    DeleteFileW((profile + L"\\ssini.xml").c_str());
    CHECK(launchStartScreen(r) == 0);
    // No user data folder: nothing is created anywhere.
    r.userDataFolder = L"";
    CHECK(launchStartScreen(r) == 0);
    CHECK(!exists(L"\\ss20\\profiles\\Empty"));
}
