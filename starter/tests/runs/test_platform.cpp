// Platform choice: -b, the user's cfg.ini, the installation's default and
// the fallbacks, with PATH, "KX_WI_DIR_TREE" and "KX_ADD_PATH".
#include "fixture.h"

using namespace runkit;
using fixture::install;
using fixture::iniValue;
using fixture::options;

namespace {

struct Platforms {
    Installation inst;
    std::wstring x64;   // root\plat\x64 (with bin)
    std::wstring arm;   // root\plat\arm (with bin)
};

// Default x64; a second platform arm; both folders exist unless removed.
Platforms platforms(const std::wstring &name, const std::string &extra = std::string())
{
    Platforms p;
    p.inst = install(name);
    p.x64 = join(join(p.inst.root, L"plat"), L"x64");
    p.arm = join(join(p.inst.root, L"plat"), L"arm");
    makeDirs(join(p.x64, L"bin"));
    makeDirs(join(p.arm, L"bin"));
    writeFile(p.inst.config, "[\\Configuration]\r\nqPlat=sx64\r\n"
                             "[\\Configuration\\qPlat\\x64]\r\nDir=s" + narrow(p.x64) + "\r\n"
                             "[\\Configuration\\qPlat\\arm]\r\nDir=s" + narrow(p.arm) + "\r\n" + extra);
    return p;
}

std::string tree(const Platforms &p, const std::wstring &plat)
{
    return narrow(p.inst.bin) + ";" + narrow(plat) + "\\bin;" + narrow(p.inst.root) + "\\lib";
}

// Starts with a user cfg.ini of its own (the vendor names the folder).
void freshUserCfg(const std::wstring &vendor, const std::string &content)
{
    std::wstring cfg = fixture::userCfg(vendor);
    DeleteFileW(cfg.c_str());
    writeFile(cfg, content);
}

} // namespace

TEST_GROUP(PlatformChoice)
{
    // The installation's default.
    Platforms p = platforms(L"platform-choice");
    std::wstring vendor = L"VendorPlatChoice";
    DeleteFileW(fixture::userCfg(vendor).c_str());
    RunOptions o = options(vendor);
    o.env[L"PATH"] = L"C:\\windows\\system32;%5\\keep;%OTHER%";
    RunResult r = run(p.inst, o);
    CHECK(r.exitCode == 7);
    CHECK_EQ(r.value("KX_WI_DIR_TREE"), tree(p, p.x64));
    CHECK_EQ(r.value("KX_ADD_PATH"), narrow(p.x64) + "\\bin");
    // PATH: every "%5" replaced, nothing else of it interpreted.
    CHECK_EQ(r.value("PATH"), narrow(p.inst.bin) + ";" + narrow(p.x64) + "\\bin;" + narrow(p.inst.root)
                                  + "\\lib;C:\\windows\\system32;" + narrow(p.x64) + "\\keep;%OTHER%");

    // -b picks another platform; without a user cfg.ini nothing is stored.
    o.args = {L"-b", L"arm"};
    r = run(p.inst, o);
    CHECK_EQ(r.value("KX_WI_DIR_TREE"), tree(p, p.arm));
    CHECK(!exists(fixture::userCfg(vendor)));

    // With a user cfg.ini -b is remembered ("s" + name) ...
    freshUserCfg(vendor, "[\\Configuration]\r\nqPlat=sx64\r\n");
    r = run(p.inst, o);
    CHECK_EQ(r.value("KX_WI_DIR_TREE"), tree(p, p.arm));
    CHECK_EQ(iniValue(fixture::userCfg(vendor), L"\\Configuration", L"qPlat"), "sarm");
    // ... and used on the next start without -b.
    o.args.clear();
    r = run(p.inst, o);
    CHECK_EQ(r.value("KX_WI_DIR_TREE"), tree(p, p.arm));

    // An empty user choice: the default is used and written to cfg.ini.
    freshUserCfg(vendor, "[\\Configuration]\r\nother=f1\r\n");
    r = run(p.inst, o);
    CHECK_EQ(r.value("KX_WI_DIR_TREE"), tree(p, p.x64));
    CHECK_EQ(iniValue(fixture::userCfg(vendor), L"\\Configuration", L"qPlat"), "sx64");

    // -r Work=1 selects the user section \Configuration\Work.
    freshUserCfg(vendor, "[\\Configuration]\r\nqPlat=sx64\r\n[\\Configuration\\Work]\r\nqPlat=sarm\r\n");
    o.args = {L"-r", L"Work=1"};
    r = run(p.inst, o);
    CHECK_EQ(r.value("KX_WI_DIR_TREE"), tree(p, p.arm));
    o.args = {L"-r", L"Work=1", L"-b", L"x64"};
    r = run(p.inst, o);
    CHECK_EQ(r.value("KX_WI_DIR_TREE"), tree(p, p.x64));
    CHECK_EQ(iniValue(fixture::userCfg(vendor), L"\\Configuration\\Work", L"qPlat"), "sx64");
    CHECK_EQ(iniValue(fixture::userCfg(vendor), L"\\Configuration", L"qPlat"), "sx64");

    // A data folder: KX_ADD_PATH names it, and it is appended to the tree
    // and to PATH.
    std::wstring data = join(p.inst.root, L"trdata");
    makeDirs(join(data, L"bin"));
    Platforms d = platforms(L"platform-data", "");
    makeDirs(join(data, L"bin"));
    writeFile(d.inst.config, "[\\Configuration]\r\nqPlat=sx64\r\n[\\Configuration\\qPlat\\x64]\r\nDir=s"
                                 + narrow(d.x64) + "\r\nTrDataDir=s" + narrow(data) + "\r\n");
    o = options(L"VendorPlatData");
    o.env[L"PATH"] = L"C:\\windows";
    r = run(d.inst, o);
    CHECK(r.exitCode == 7);
    std::string dataElement = narrow(data) + "\\bin";
    CHECK_EQ(r.value("KX_ADD_PATH"), dataElement);
    CHECK_EQ(r.value("KX_WI_DIR_TREE"), tree(d, d.x64) + ";" + dataElement + ";");
    CHECK_EQ(r.value("PATH"), tree(d, d.x64) + ";C:\\windows;" + dataElement + ";");

    // The main module only in the platform folder: the bare name was kept,
    // and it is loaded through PATH.
    Platforms m = platforms(L"platform-main");
    MoveFileW(join(m.inst.bin, L"Meridane.dll").c_str(), join(join(m.x64, L"bin"), L"Meridane.dll").c_str());
    r = run(m.inst, options(L"VendorPlatMain"));
    CHECK(r.exitCode == 7);
    CHECK_EQ(r.value("GetMainDllNameW"), "Meridane.dll");
}

TEST_GROUP(PlatformFallback)
{
    const std::string fatal15 = "Error: 55.\nReinstall application to fix this problem.\n";
    std::wstring vendor = L"VendorPlatFallback";

    // The stored user platform lost its folder: the default is used and
    // written back.
    Platforms p = platforms(L"platform-fallback");
    freshUserCfg(vendor, "[\\Configuration]\r\nqPlat=sarm\r\n");
    removeTree(p.arm);
    RunResult r = run(p.inst, options(vendor));
    CHECK(r.exitCode == 7);
    CHECK_EQ(r.value("KX_WI_DIR_TREE"), tree(p, p.x64));
    CHECK_EQ(iniValue(fixture::userCfg(vendor), L"\\Configuration", L"qPlat"), "sx64");

    // A platform without "Dir": report 15.
    Platforms noDir = platforms(L"platform-nodir", "[\\Configuration\\qPlat\\bare]\r\nTrDataDir=sC:\\x\r\n");
    freshUserCfg(vendor, "");
    RunOptions o = options(vendor);
    o.args = {L"-b", L"bare"};
    r = run(noDir.inst, o);
    CHECK(r.exitCode == 255);
    CHECK_EQ(fixture::output(r), fatal15);

    // The default platform's folder is missing: report 15, no second try.
    removeTree(p.x64);
    freshUserCfg(vendor, "");
    r = run(p.inst, options(vendor));
    CHECK(r.exitCode == 255);
    CHECK_EQ(fixture::output(r), fatal15);
    CHECK_EQ(r.value("RunAppW.cmd"), "<none>");

    // A chosen platform that is missing, with a default that is missing too.
    o.args = {L"-b", L"arm"};
    r = run(p.inst, o);
    CHECK(r.exitCode == 255);
    CHECK_EQ(fixture::output(r), fatal15);

    // No platform configured at all.
    Installation none = install(L"platform-none");
    writeFile(none.config, "[\\Configuration]\r\nqPlat=s\r\n");
    r = run(none, options(vendor));
    CHECK(r.exitCode == 255);
    CHECK_EQ(fixture::output(r), fatal15);

    // A data folder that is missing makes the platform unusable; the
    // default's keys replace only what they define.
    Platforms dataMissing = platforms(L"platform-datamissing");
    writeFile(dataMissing.inst.config,
              "[\\Configuration]\r\nqPlat=sx64\r\n[\\Configuration\\qPlat\\x64]\r\nDir=s"
                  + narrow(dataMissing.x64) + "\r\n[\\Configuration\\qPlat\\arm]\r\nDir=s"
                  + narrow(dataMissing.arm) + "\r\nTrDataDir=sC:\\no\\such\\data\r\n");
    o = options(L"VendorPlatDataMissing");
    o.args = {L"-b", L"arm"};
    r = run(dataMissing.inst, o);
    // The default x64 has no TrDataDir, so the missing data folder stays and
    // the start fails.
    CHECK(r.exitCode == 255);
    CHECK_EQ(fixture::output(r), fatal15);
}
