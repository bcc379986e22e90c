// Whole runs: exit code, final command line, arguments, environment,
// identity, fatal reports, flags and the search path template.
#include "fixture.h"

#include <string>

using namespace runkit;
using fixture::install;
using fixture::options;
using fixture::output;

namespace {

// installCfg with a default platform x64 whose folder exists.
void writePlatformConfig(const Installation &inst, const std::string &extra = std::string())
{
    std::wstring plat = join(join(inst.root, L"plat"), L"x64");
    makeDirs(join(plat, L"bin"));
    writeFile(inst.config, "[\\Configuration]\r\nqPlat=sx64\r\n[\\Configuration\\qPlat\\x64]\r\nDir=s"
                               + narrow(plat) + "\r\n" + extra);
}

std::string cfgArg(const Installation &inst)
{
    return " /_KxIniFileName_:\"" + narrow(inst.config) + "\"";
}

} // namespace

TEST_GROUP(ExitCodeAndCommandLine)
{
    Installation inst = install(L"exitcode");
    writePlatformConfig(inst);

    // No arguments: RunAppW gets only the configuration switch; its result
    // is the exit code.
    RunResult r = run(inst, options(L"VendorExit"));
    CHECK(r.exitCode == 7);
    CHECK_EQ(r.value("RunAppW.cmd"), "[" + cfgArg(inst) + "]");
    CHECK_EQ(r.value("RunAppW.instance"), "self");
    CHECK_EQ(r.value("RunAppW.previous"), "null");
    CHECK_EQ(r.value("RunAppW.zero"), "0");
    CHECK_EQ(r.value("RunAppW.show"), "10"); // SW_SHOWDEFAULT from a plain CreateProcess

    // The OEM object is finished, released and its module unloaded after
    // the main module returned.
    int ran = r.indexOf("RunAppW.zero=0");
    int finish = r.indexOf("oem.Finish");
    int release = r.indexOf("oem.Release");
    int unload = r.indexOf("oem.unload");
    CHECK(ran >= 0 && finish > ran && release == finish + 1 && unload > release);
    CHECK(r.matching("oem.slot").empty());

    RunOptions o = options(L"VendorExit");
    o.env[L"MT_EXIT"] = L"42";
    CHECK(run(inst, o).exitCode == 42);
    o.env[L"MT_EXIT"] = L"0";
    CHECK(run(inst, o).exitCode == 0);

    // Two arguments a and "b c": two blanks before the slash.
    o = options(L"VendorExit");
    o.args = {L"a", L"b c"};
    r = run(inst, o);
    CHECK_EQ(r.value("RunAppW.cmd"), "[\"a\" \"b c\" " + cfgArg(inst) + "]");

    // Arguments split by the system's rules reach the main module so that
    // the same rules give them back: an escaped quote, a trailing backslash
    // (which must not swallow the closing quote), an empty argument; the
    // configuration switch stays an argument of its own.
    o.args.clear();
    o.rawCommandTail = L"\"x \\\"y\\\"\" C:\\dir\\ \"\"";
    r = run(inst, o);
    CHECK_EQ(r.value("RunAppW.cmd"),
             "[\"x \\\"y\\\"\" \"C:\\dir\\\\\" \"\" " + cfgArg(inst) + "]");
    CHECK_EQ(r.value("RunAppW.arg1"), "[x \"y\"]");
    CHECK_EQ(r.value("RunAppW.arg2"), "[C:\\dir\\]");
    CHECK_EQ(r.value("RunAppW.arg3"), "[]");
    CHECK_EQ(r.value("RunAppW.arg4"), "[/_KxIniFileName_:" + narrow(inst.config) + "]");
    CHECK_EQ(r.value("RunAppW.arg5"), "<none>");

    // A quote inside an argument cannot end it early: "-register" stays
    // inside the value of -p and starts no registration run.
    o.rawCommandTail = L"-p \"a\\\" -register\" C:\\d\\ -b";
    r = run(inst, o);
    CHECK(r.exitCode == 7);
    CHECK_EQ(r.value("RunAppW.arg2"), "[a\" -register]");
    CHECK_EQ(r.value("RunAppW.arg3"), "[C:\\d\\]");
    CHECK_EQ(r.value("RunAppW.arg4"), "[-b]");
}

TEST_GROUP(Arguments)
{
    Installation inst = install(L"arguments");
    writePlatformConfig(inst, "[\\SelfRegModules]\r\nselfreg_server.dll=\r\n");
    copyFile(fixture::module(L"selfreg_server"), join(inst.bin, L"selfreg_server.dll"));

    // A flag inside a document path is part of the path: the document is
    // opened, nothing is registered or unregistered.
    RunOptions o = options(L"VendorArgs");
    o.args = {L"C:\\Data\\land-registers.dwg", L"C:\\x-unregister\\b.dwg"};
    RunResult r = run(inst, o);
    CHECK(r.exitCode == 7);
    CHECK(r.matching("selfreg_server").empty());
    CHECK_EQ(r.value("RunAppW.arg1"), "[C:\\Data\\land-registers.dwg]");

    // The installer's forms still register.
    o.args = {L"-register"};
    r = run(inst, o);
    CHECK(r.exitCode == 0);
    CHECK(r.has("selfreg_server.dll.register=0 zero=0"));
    CHECK_EQ(r.value("RunAppW.cmd"), "<none>");
    CHECK(r.has("oem.Finish") && r.has("oem.Release"));

    // The capital-R-only spelling is an ordinary argument.
    o.args = {L"-Register"};
    r = run(inst, o);
    CHECK(r.exitCode == 7);
    CHECK(r.matching("selfreg_server").empty());
    CHECK_EQ(r.value("RunAppW.cmd"), "[\"-Register\" " + cfgArg(inst) + "]");

    // A long argument reaches the main module whole, although switch values
    // are cut at 259 characters.
    std::wstring longName(3000, L'n');
    o.args = {L"-p", longName, L"-r", L"Work"};
    r = run(inst, o);
    CHECK(r.exitCode == 7);
    CHECK_EQ(r.value("RunAppW.cmd"),
             "[\"-p\" \"" + narrow(longName) + "\" \"-r\" \"Work\" " + cfgArg(inst) + "]");
}

TEST_GROUP(Environment)
{
    Installation inst = install(L"environment");
    // A search path without the platform placeholder.
    writeFile(inst.config, "[Starter]\r\nPath=%2;%1\\lib\r\n");
    std::string expanded = narrow(inst.bin) + ";" + narrow(inst.root) + "\\lib";

    RunOptions o = options(L"VendorEnv");
    o.env[L"PATH"] = L"C:\\windows\\system32;C:\\windows;%ODD%;100%";
    o.env[L"QT_QPA_PLATFORM_PLUGIN_PATH"] = L"C:\\elsewhere";
    RunResult r = run(inst, o);
    CHECK(r.exitCode == 7);
    CHECK_EQ(r.value("PATH"), expanded + ";C:\\windows\\system32;C:\\windows;%ODD%;100%");
    CHECK_EQ(r.value("KX_WI_DIR_TREE"), expanded);
    CHECK_EQ(r.value("KX_ADD_PATH"), "<unset>");
    CHECK_EQ(r.value("QT_QPA_PLATFORM_PLUGIN_PATH"), "<unset>");

    // Started from a starter's environment: PATH already holds the search
    // path, so neither PATH nor KX_WI_DIR_TREE change.
    o.env[L"PATH"] = widen("C:\\windows\\system32;" + expanded + ";C:\\windows");
    o.env[L"KX_WI_DIR_TREE"] = L"inherited";
    o.unsetEnv = {L"KX_ADD_PATH", L"QZPROFILER"};
    r = run(inst, o);
    CHECK_EQ(r.value("PATH"), "C:\\windows\\system32;" + expanded + ";C:\\windows");
    CHECK_EQ(r.value("KX_WI_DIR_TREE"), "inherited");

    // A PATH longer than the 8320-character buffer is kept whole.
    std::string longPath = "C:\\windows\\system32;C:\\windows";
    while (longPath.size() < 12000)
        longPath += ";C:\\some\\long\\folder\\name\\" + std::to_string(longPath.size());
    o = options(L"VendorEnv");
    o.env[L"PATH"] = widen(longPath);
    r = run(inst, o);
    CHECK(r.exitCode == 7);
    CHECK_EQ(r.value("PATH"), expanded + ";" + longPath);
}

TEST_GROUP(Identity)
{
    Installation inst = install(L"identity");
    writePlatformConfig(inst);
    RunResult r = run(inst, options(L"VendorIdentity"));
    // The main module was found along the search path: its full path.
    CHECK_EQ(r.value("GetMainDllNameW"), narrow(join(inst.bin, L"Meridane.dll")));
    CHECK_EQ(r.value("GetMainDllInstance"), "self");
    CHECK_EQ(r.value("AddModuleToTrace"), "called");

    // The product key carries vendor, product and version: the starter
    // records the provisioned user data folder there.
    RunOptions o = options(L"VendorIdentity");
    o.env[L"MT_VERSION_1"] = L"26";
    o.env[L"MT_VERSION_2"] = L"3";
    r = run(inst, o);
    CHECK(r.exitCode == 7);
    HKEY key;
    bool opened = RegOpenKeyExW(HKEY_CURRENT_USER, L"SOFTWARE\\VendorIdentity\\Stadia\\26.3", 0,
                                KEY_READ, &key) == ERROR_SUCCESS;
    CHECK(opened);
    if (opened) {
        wchar_t value[520] = {};
        DWORD size = sizeof value - sizeof(wchar_t);
        CHECK(RegQueryValueExW(key, L"UserDataDir", nullptr, nullptr,
                               reinterpret_cast<BYTE *>(value), &size) == ERROR_SUCCESS);
        CHECK_EQ(narrow(value), narrow(join(join(fixture::appData(), L"VendorIdentity"),
                                            L"Stadia 26.3")));
        RegCloseKey(key);
    }
    // Names too long for the 260-character key and label buffers are cut,
    // the start goes on.
    o = options(std::wstring(290, L'V'));
    o.env[L"MT_PRODUCT"] = std::wstring(290, L'P');
    r = run(inst, o);
    CHECK(r.exitCode == 7);
    CHECK_EQ(r.value("GetMainDllNameW"), narrow(join(inst.bin, L"Meridane.dll")));
}

TEST_GROUP(FatalReports)
{
    const std::string reinstall = ".\nReinstall application to fix this problem.\n";

    // No main module: report 9.
    Installation inst = install(L"fatal-main", L"std", L"");
    writePlatformConfig(inst);
    RunResult r = run(inst, options(L"VendorFatal"));
    CHECK(r.exitCode == 255);
    CHECK_EQ(fixture::output(r), "Error: Some of application components are missing or corrupted" + reinstall);
    // The OEM object is not finished on this path: the process just ends.
    CHECK(!r.has("oem.Finish"));

    // A main module without RunAppW: report 10.
    copyFile(fixture::module(L"mainmodule_norun"), join(inst.bin, L"Meridane.dll"));
    r = run(inst, options(L"VendorFatal"));
    CHECK(r.exitCode == 255);
    CHECK_EQ(fixture::output(r), "Error: Main application component is corrupted" + reinstall);

    // No OEM module: report 9 before anything else is loaded.
    Installation noOem = install(L"fatal-oem");
    writePlatformConfig(noOem);
    DeleteFileW(join(noOem.bin, L"testoem.dll").c_str());
    r = run(noOem, options(L"VendorFatal"));
    CHECK(r.exitCode == 255);
    CHECK_EQ(fixture::output(r), "Error: Some of application components are missing or corrupted" + reinstall);
    CHECK_EQ(r.value("RunAppW.cmd"), "<none>");

    // An OEM module without new_IOemInfo.
    copyFile(fixture::module(L"selfreg_none"), join(noOem.bin, L"testoem.dll"));
    r = run(noOem, options(L"VendorFatal"));
    CHECK(r.exitCode == 255);
    CHECK_EQ(fixture::output(r), "Error: Some of application components are missing or corrupted" + reinstall);

    // A starter without its string table still ends with 255 at a fatal
    // report (here: no platform configured) instead of running on.
    Installation bare = install(L"fatal-nostrings", L"nostrings");
    r = run(bare, options(L"VendorFatal"));
    CHECK(r.exitCode == 255);
    CHECK_EQ(r.value("RunAppW.cmd"), "<none>");

    // A factory that returns no object.
    copyFile(fixture::module(L"testoem"), join(noOem.bin, L"testoem.dll"));
    RunOptions o = options(L"VendorFatal");
    o.env[L"MT_OEM_NULL"] = L"1";
    r = run(noOem, o);
    CHECK(r.exitCode == 255);
    CHECK(r.has("oem.new"));
    CHECK_EQ(fixture::output(r), "Error: Some of application components are missing or corrupted" + reinstall);
    CHECK_EQ(r.value("RunAppW.cmd"), "<none>");
    // A built-in setting altered in the program file fails its check:
    // report 10 before anything is loaded.
    Installation tampered = install(L"fatal-tampered");
    writePlatformConfig(tampered);
    std::string exe = readFile(tampered.starter);
    const std::string oemName = "testoem.dll";
    std::string scrambled;
    for (size_t i = 0; i < oemName.size(); ++i)
        scrambled += static_cast<char>(oemName[i] ^ ((167 + 31 * i + 17 * 3) & 255));
    size_t at = exe.find(scrambled);
    CHECK(at != std::string::npos);
    if (at != std::string::npos) {
        r = run(tampered, options(L"VendorFatal"));
        CHECK(r.exitCode == 7);
        exe[at + 2] = static_cast<char>(exe[at + 2] ^ 0x01);
        writeFile(tampered.starter, exe);
        r = run(tampered, options(L"VendorFatal"));
        CHECK(r.exitCode == 255);
        CHECK_EQ(fixture::output(r), "Error: Main application component is corrupted" + reinstall);
        CHECK(!r.has("oem.new"));
    }
}

TEST_GROUP(Flags)
{
    Installation inst = install(L"flags");
    writePlatformConfig(inst);

    RunResult r = run(inst, options(L"VendorFlags"));
    CHECK_EQ(r.value("QZPROFILER"), "<unset>");

    RunOptions o = options(L"VendorFlags");
    o.args = {L"-profiler"};
    r = run(inst, o);
    CHECK_EQ(r.value("QZPROFILER"), "1");
    o.args = {L"/profiler"};
    CHECK_EQ(run(inst, o).value("QZPROFILER"), "<unset>");

    // Without a display the box returns at once; the start-up goes on.
    o.args = {L"-stop_for_connect"};
    r = run(inst, o);
    CHECK(r.exitCode == 7);
}

TEST_GROUP(SearchPathTemplate)
{
    Installation inst = install(L"template");
    // Path replaces the template; prefix and suffix are then ignored.
    writeFile(inst.config,
              "[Starter]\r\nPath=%2|%1|%3|%4|%6|%7|%8|100%%\r\nPathPrefix=PRE\r\nPathSuffix=SUF\r\n"
              "%4=four\r\n%5=five\r\n%6=0123456789012345678901234567890123456789\r\n%7=\r\n%8=eight\r\n");
    RunResult r = run(inst, options(L"VendorTemplate"));
    CHECK(r.exitCode == 7);
    CHECK_EQ(r.value("KX_WI_DIR_TREE"), narrow(inst.bin) + "|" + narrow(inst.root) + "|"
                                            + narrow(inst.bin) + "|four|0123456789012345678901234567890||eight|100%");

    // Without Path: prefix;template;suffix, and the platform is resolved.
    std::wstring plat = join(join(inst.root, L"plat"), L"x64");
    makeDirs(join(plat, L"bin"));
    writeFile(inst.config, "[Starter]\r\nPathPrefix=C:\\pre\r\nPathSuffix=C:\\suf\r\n"
                           "[\\Configuration]\r\nqPlat=sx64\r\n[\\Configuration\\qPlat\\x64]\r\nDir=s"
                               + narrow(plat) + "\r\n");
    r = run(inst, options(L"VendorTemplate"));
    CHECK(r.exitCode == 7);
    CHECK_EQ(r.value("KX_WI_DIR_TREE"), "C:\\pre;" + narrow(inst.bin) + ";" + narrow(plat) + "\\bin;"
                                            + narrow(inst.root) + "\\lib;C:\\suf");

    // A search path longer than its 3119 characters: PATH gets it whole; the
    // stored copy is cut behind a whole folder, so the first folders still
    // serve the module search.
    std::string longList = "%2";
    while (longList.size() < 5000)
        longList += ";C:\\not\\there\\" + std::to_string(longList.size());
    writeFile(inst.config, "[Starter]\r\nPath=" + longList + "\r\n");
    r = run(inst, options(L"VendorTemplate"));
    CHECK(r.exitCode == 7);
    CHECK_EQ(r.value("GetMainDllNameW"), narrow(join(inst.bin, L"Meridane.dll")));
    CHECK(r.value("KX_WI_DIR_TREE").size() == longList.size() - 2 + inst.bin.size());

    // An expansion beyond 8320 characters is cut at the buffer, not beyond.
    std::string huge = "%2";
    while (huge.size() < 8000)
        huge += ";%2";
    writeFile(inst.config, "[Starter]\r\nPath=" + huge + "\r\n");
    r = run(inst, options(L"VendorTemplate"));
    CHECK(r.exitCode == 7);
    CHECK(r.value("KX_WI_DIR_TREE").size() == 8319);

    // No resource 1: no search path, PATH untouched; modules are found by
    // the system's own order (the starter's folder).
    Installation nores = install(L"template-nores", L"nores");
    RunOptions o = options(L"VendorTemplate");
    o.env[L"PATH"] = L"C:\\windows\\system32;C:\\windows";
    r = run(nores, o);
    CHECK(r.exitCode == 7);
    CHECK_EQ(r.value("PATH"), "C:\\windows\\system32;C:\\windows");
    CHECK_EQ(r.value("KX_WI_DIR_TREE"), "<unset>");
    // Without a search path the system's order finds it in the starter's
    // folder.
    CHECK_EQ(r.value("GetMainDllNameW"), narrow(join(nores.bin, L"Meridane.dll")));

    // Named settings: install.cfg when it is not empty, app.dll, and the
    // template %2\bin;%5\bin.
    Installation fixed = install(L"template-fixed", L"fixed", L"app.dll");
    std::wstring fplat = join(fixed.root, L"P");
    makeDirs(join(fplat, L"bin"));
    std::string platCfg = "[\\Configuration]\r\nqPlat=sP\r\n[\\Configuration\\qPlat\\P]\r\nDir=s"
        + narrow(fplat) + "\r\n";
    writeFile(join(fixed.bin, L"install.cfg"), platCfg);
    r = run(fixed, options(L"VendorTemplate"));
    CHECK(r.exitCode == 7);
    CHECK_EQ(r.value("KX_WI_DIR_TREE"), narrow(fixed.bin) + "\\bin;" + narrow(fplat) + "\\bin");
    CHECK_EQ(r.value("RunAppW.cmd"), "[ /_KxIniFileName_:\"" + narrow(join(fixed.bin, L"install.cfg")) + "\"]");
    CHECK_EQ(r.value("GetMainDllNameW"), "app.dll");
    // An empty install.cfg counts as missing: Meridane.ini is used.
    writeFile(join(fixed.bin, L"install.cfg"), "");
    writeFile(fixed.config, platCfg);
    r = run(fixed, options(L"VendorTemplate"));
    CHECK(r.exitCode == 7);
    CHECK_EQ(r.value("RunAppW.cmd"), "[ /_KxIniFileName_:\"" + narrow(fixed.config) + "\"]");
}
