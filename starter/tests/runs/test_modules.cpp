// Registration and unregistration runs, preloaded modules, the crash-report
// module and the main module's entry points.
#include "fixture.h"

using namespace runkit;
using fixture::install;
using fixture::options;

namespace {

Installation withModules(const std::wstring &name, const std::string &sections)
{
    Installation inst = install(name);
    std::wstring plat = join(join(inst.root, L"plat"), L"x64");
    makeDirs(join(plat, L"bin"));
    writeFile(inst.config, "[\\Configuration]\r\nqPlat=sx64\r\n[\\Configuration\\qPlat\\x64]\r\nDir=s"
                               + narrow(plat) + "\r\n" + sections);
    for (const wchar_t *m : {L"selfreg_install", L"selfreg_server", L"selfreg_none"})
        copyFile(fixture::module(m), join(inst.bin, std::wstring(m) + L".dll"));
    return inst;
}

std::string debugEnding(const char *module, const char *ending)
{
    return std::string("Starter::RegisterModule(\"") + module + "\") - " + ending;
}

bool hasLine(const std::vector<std::string> &lines, const std::string &line)
{
    for (const std::string &l : lines) {
        if (l == line)
            return true;
    }
    return false;
}

} // namespace

TEST_GROUP(Registration)
{
    Installation inst = withModules(L"registration",
        "[\\SelfRegModules]\r\n@=ignored\r\nselfreg_install.dll=\r\nselfreg_server.dll=x\r\n"
        "selfreg_none.dll=\r\nmissing.dll=\r\nplatonly.dll=\r\n");
    // A module that lives only in the platform folder: the registration run
    // keeps "%5" in the search path, so it is not found.
    copyFile(fixture::module(L"selfreg_server"),
             join(join(join(join(inst.root, L"plat"), L"x64"), L"bin"), L"platonly.dll"));

    RunOptions o = options(L"VendorReg");
    o.args = {L"-register"};
    o.debugOutput = true;
    RunResult r = run(inst, o);
    CHECK(r.exitCode == 0);
    std::string self = narrow(inst.starter);
    std::vector<std::string> calls = r.matching("selfreg_install.dll.install");
    CHECK(calls.size() == 5);
    if (calls.size() == 5) {
        CHECK_EQ(calls[0], "selfreg_install.dll.install(1,user)=0 zero=0 starter=" + self);
        CHECK_EQ(calls[1], "selfreg_install.dll.install(0,)=0 zero=0 starter=" + self);
        CHECK_EQ(calls[2], "selfreg_install.dll.install(0,)=0 zero=0 starter=" + self);
        CHECK_EQ(calls[3], "selfreg_install.dll.install(1,)=0 zero=0 starter=" + self);
        CHECK_EQ(calls[4], "selfreg_install.dll.install(1,user)=0 zero=0 starter=" + self);
    }
    // Installed through KxDllInstallW: its register entry is not needed.
    CHECK(!r.has("selfreg_install.dll.register=0 zero=0"));
    CHECK(r.has("selfreg_server.dll.register=0 zero=0"));
    // Modules are handled in the file's order.
    CHECK(r.indexOf("selfreg_install.dll.loaded") < r.indexOf("selfreg_server.dll.loaded"));
    CHECK(r.indexOf("selfreg_server.dll.loaded") < r.indexOf("selfreg_none.dll.loaded"));
    CHECK(hasLine(r.debugLines, debugEnding("selfreg_none.dll", "unable to find register entry point")));
    CHECK(hasLine(r.debugLines, debugEnding("missing.dll", "unable to load module")));
    CHECK(hasLine(r.debugLines, debugEnding("platonly.dll", "unable to load module")));
    CHECK(r.matching("platonly").empty());
    // No start screen, no main module, but the OEM object is finished.
    CHECK_EQ(r.value("RunAppW.cmd"), "<none>");
    CHECK(r.indexOf("oem.Finish") >= 0 && r.indexOf("oem.Release") > r.indexOf("oem.Finish"));

    // Both KxDllInstallW results negative: KxDllRegisterServerW is tried;
    // a negative result there is reported.
    o.env[L"MT_INSTALL_USER"] = L"-1";
    o.env[L"MT_INSTALL_ALL"] = L"-2147467259";
    o.env[L"MT_REGISTER"] = L"-5";
    r = run(inst, o);
    CHECK(r.exitCode == 0);
    CHECK(r.matching("selfreg_install.dll.install").size() == 5);
    CHECK(r.has("selfreg_install.dll.register=-5 zero=0"));
    CHECK(hasLine(r.debugLines, debugEnding("selfreg_install.dll", "registering failed")));
    CHECK(hasLine(r.debugLines, debugEnding("selfreg_server.dll", "registering failed")));

    // Only the user scope succeeds: registered, no fallback.
    o.env[L"MT_INSTALL_USER"] = L"0";
    r = run(inst, o);
    CHECK(!r.has("selfreg_install.dll.register=-5 zero=0"));
    CHECK(!hasLine(r.debugLines, debugEnding("selfreg_install.dll", "registering failed")));
}

TEST_GROUP(Unregistration)
{
    Installation inst = withModules(L"unregistration",
        "[\\SelfRegModules]\r\nselfreg_install.dll=\r\nselfreg_server.dll=\r\nselfreg_none.dll=\r\n"
        "missing.dll=\r\n");
    RunOptions o = options(L"VendorUnreg");
    o.args = {L"-unregister"};
    o.debugOutput = true;
    RunResult r = run(inst, o);
    CHECK(r.exitCode == 0);
    std::string self = narrow(inst.starter);
    std::vector<std::string> calls = r.matching("selfreg_install.dll.install");
    CHECK(calls.size() == 3);
    if (calls.size() == 3) {
        CHECK_EQ(calls[0], "selfreg_install.dll.install(0,user)=0 zero=0 starter=" + self);
        CHECK_EQ(calls[1], "selfreg_install.dll.install(0,)=0 zero=0 starter=" + self);
        CHECK_EQ(calls[2], "selfreg_install.dll.install(0,)=0 zero=0 starter=" + self);
    }
    CHECK(!r.has("selfreg_install.dll.unregister zero=0"));
    CHECK(r.has("selfreg_server.dll.unregister zero=0"));
    CHECK_EQ(r.value("RunAppW.cmd"), "<none>");
    // Unregistration problems are silent.
    CHECK(r.debugLines.empty() || !hasLine(r.debugLines, debugEnding("missing.dll", "unable to load module")));

    // Both results negative: KxDllUnRegisterServerW as well.
    o.env[L"MT_INSTALL_USER"] = L"-1";
    o.env[L"MT_INSTALL_ALL"] = L"-1";
    r = run(inst, o);
    CHECK(r.has("selfreg_install.dll.unregister zero=0"));

    // -register with -unregister: unregisters in the registration step,
    // no start screen, no main module.
    o = options(L"VendorUnreg");
    o.args = {L"-register", L"-unregister"};
    r = run(inst, o);
    CHECK(r.exitCode == 0);
    CHECK(r.matching("selfreg_install.dll.install(1").empty());
    CHECK(r.matching("selfreg_install.dll.install(0").size() == 3);
    CHECK(r.has("selfreg_server.dll.unregister zero=0"));
    CHECK_EQ(r.value("RunAppW.cmd"), "<none>");
}

TEST_GROUP(PreloadAndCrashReport)
{
    Installation inst = withModules(L"preload",
        "[\\PreLoadedModules]\r\nmissing.dll=\r\nselfreg_none.dll=\r\n");
    RunResult r = run(inst, options(L"VendorPreload"));
    CHECK(r.exitCode == 7);
    int loaded = r.indexOf("selfreg_none.dll.loaded");
    CHECK(loaded >= 0 && loaded < r.indexOf("RunAppW.zero=0"));
    CHECK_EQ(r.value("crash.loaded"), "no");

    // A crash-report module with both entry points: process handlers, then
    // thread handlers, then the main module; unloaded before the OEM object
    // is finished.
    copyFile(fixture::module(L"crash_full"), join(inst.bin, L"QzCrashReport.dll"));
    r = run(inst, options(L"VendorPreload"));
    CHECK(r.exitCode == 7);
    int load = r.indexOf("crash.load");
    int process = r.indexOf("crash.SetProcessHandlers");
    int thread = r.indexOf("crash.SetThreadHandlers");
    int ran = r.indexOf("RunAppW.zero=0");
    int unload = r.indexOf("crash.unload");
    CHECK(load >= 0 && process > load && thread > process && ran > thread);
    CHECK(unload > ran && unload < r.indexOf("oem.Finish"));
    CHECK_EQ(r.value("crash.loaded"), "yes");

    // An exception leaving RunAppW: exit code 1, the crash-report module is
    // still unloaded and the OEM object finished.
    RunOptions o = options(L"VendorPreload");
    o.env[L"MT_THROW"] = L"1";
    r = run(inst, o);
    CHECK(r.exitCode == 1);
    CHECK(r.has("RunAppW.throw"));
    CHECK(r.indexOf("crash.unload") > r.indexOf("RunAppW.throw"));
    CHECK(r.has("oem.Finish") && r.has("oem.Release"));

    // The Microsoft compiler's C++ exception leaving RunAppW is caught the
    // same way.
    o = options(L"VendorPreload");
    o.env[L"MT_RAISE"] = L"msvc";
    r = run(inst, o);
    CHECK(r.exitCode == 1);
    CHECK(r.has("RunAppW.raise"));
    CHECK(r.indexOf("crash.unload") > r.indexOf("RunAppW.raise"));
    CHECK(r.matching("crash.filter").empty());
    CHECK(r.has("oem.Finish") && r.has("oem.Release"));

    // A hardware fault is left to the crash-report module's handlers.
    o.env[L"MT_RAISE"] = L"fault";
    r = run(inst, o);
    CHECK(r.has("RunAppW.fault"));
    CHECK_EQ(r.value("crash.filter"), "C0000005");
    CHECK(r.exitCode == 0xC0000005);
    CHECK(!r.has("crash.unload") && !r.has("oem.Finish"));

    // Without SetProcessHandlers neither entry point is called.
    copyFile(fixture::module(L"crash_noprocess"), join(inst.bin, L"QzCrashReport.dll"));
    r = run(inst, options(L"VendorPreload"));
    CHECK(r.exitCode == 7);
    CHECK(r.has("crash.load"));
    CHECK(!r.has("crash.SetThreadHandlers"));
    CHECK(!r.has("crash.SetProcessHandlers"));
}

TEST_GROUP(MainModule)
{
    Installation inst = withModules(L"mainmodule", "");
    RunResult r = run(inst, options(L"VendorMain"));
    CHECK(r.exitCode == 7);
    // No start screen program in this installation: thread id 0, given
    // before RunAppW.
    CHECK_EQ(r.value("SetStartScreenThreadId"), "0");
    CHECK(r.indexOf("SetStartScreenThreadId=0") < r.indexOf("RunAppW.zero=0"));

    // Without SetStartScreenThreadId the module runs all the same.
    copyFile(fixture::module(L"mainmodule_nothread"), join(inst.bin, L"Meridane.dll"));
    r = run(inst, options(L"VendorMain"));
    CHECK(r.exitCode == 7);
    CHECK_EQ(r.value("SetStartScreenThreadId"), "<none>");

    // The main application runs on the starter's thread with its 16 MiB
    // stack: 8 MiB of locals fit.
    RunOptions o = options(L"VendorMain");
    o.env[L"MT_DEEP_STACK"] = L"1";
    r = run(inst, o);
    CHECK(r.exitCode == 7);
    CHECK_EQ(r.value("deepStack"), "3");
}
