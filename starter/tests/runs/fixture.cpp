#include "fixture.h"

#include <shlobj.h>

using namespace runkit;

namespace fixture {

std::wstring testBin()
{
    return windowsPath(MERIDANE_TEST_BIN);
}

std::wstring module(const std::wstring &name)
{
    return join(join(testBin(), L"modules"), name + L".dll");
}

std::wstring starterVariant(const std::wstring &variant)
{
    return join(join(testBin(), variant), L"Meridane.exe");
}

Installation install(const std::wstring &name, const std::wstring &variant,
                     const std::wstring &mainName)
{
    Installation inst = makeInstallation(name, starterVariant(variant));
    copyFile(module(L"testoem"), join(inst.bin, L"testoem.dll"));
    if (!mainName.empty())
        copyFile(module(L"mainmodule"), join(inst.bin, mainName));
    return inst;
}

RunOptions options(const std::wstring &vendor)
{
    RunOptions o;
    o.env[L"MT_VENDOR"] = vendor;
    o.unsetEnv = {L"KX_WI_DIR_TREE", L"KX_ADD_PATH", L"QZPROFILER", L"MT_EXIT", L"MT_THROW"};
    return o;
}

std::wstring appData()
{
    wchar_t path[MAX_PATH];
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, 0, path)))
        return std::wstring();
    return path;
}

std::wstring userCfg(const std::wstring &vendor)
{
    return join(join(join(join(appData(), vendor), L"Stadia 25.0"), L"Config"), L"cfg.ini");
}

std::string iniValue(const std::wstring &file, const std::wstring &section, const std::wstring &key)
{
    wchar_t value[1024];
    GetPrivateProfileStringW(section.c_str(), key.c_str(), L"<missing>", value, 1024, file.c_str());
    return narrow(value);
}

std::string output(const RunResult &r)
{
    std::string s;
    for (size_t i = 0; i < r.output.size(); ++i) {
        if (r.output[i] == '\r' && i + 1 < r.output.size() && r.output[i + 1] == '\n')
            continue;
        s += r.output[i];
    }
    return s;
}

} // namespace fixture
