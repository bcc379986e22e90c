// Time from process creation to RunAppW: the starter in a fake installation
// (default platform, no start screen) against a minimal loader that only
// loads the same main module and calls it. Both are run alternately; the
// main module records the time and returns at once.
//   bench_starter [runs per program, default 30]
#include "fixture.h"

#include <algorithm>
#include <stdio.h>
#include <vector>

using namespace runkit;

namespace {

struct Figures {
    double median, mean, min, max;
};

Figures figures(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    Figures f = {};
    if (v.empty())
        return f;
    f.median = v[v.size() / 2];
    for (double x : v)
        f.mean += x;
    f.mean /= v.size();
    f.min = v.front();
    f.max = v.back();
    return f;
}

double startupMs(const Installation &inst)
{
    RunOptions o = fixture::options(L"VendorBench");
    o.env[L"MT_TIMING"] = L"1";
    RunResult r = run(inst, o);
    std::string us = r.value("startup.us");
    if (r.exitCode != 0 || us == "<none>")
        return -1;
    return atof(us.c_str()) / 1000.0;
}

} // namespace

int wmain(int argc, wchar_t **argv)
{
    int runs = argc > 1 ? _wtoi(argv[1]) : 30;
    if (runs < 1)
        runs = 1;

    Installation starter = fixture::install(L"bench-starter");
    std::wstring plat = join(join(starter.root, L"plat"), L"x64");
    makeDirs(join(plat, L"bin"));
    writeFile(starter.config, "[\\Configuration]\r\nqPlat=sx64\r\n[\\Configuration\\qPlat\\x64]\r\nDir=s"
                                  + narrow(plat) + "\r\n");

    Installation loader = makeInstallation(L"bench-loader", windowsPath(MERIDANE_LOADER),
                                           L"loader.exe");
    copyFile(fixture::module(L"mainmodule"), join(loader.bin, L"Meridane.dll"));

    // One warm-up run each: the first start pays for the file cache.
    startupMs(starter);
    startupMs(loader);

    std::vector<double> s, l;
    for (int i = 0; i < runs; ++i) {
        double a = startupMs(starter);
        double b = startupMs(loader);
        if (a < 0 || b < 0) {
            printf("a run failed (starter %.1f, loader %.1f)\n", a, b);
            return 1;
        }
        s.push_back(a);
        l.push_back(b);
    }
    Figures fs = figures(s), fl = figures(l);
    printf("process creation to RunAppW, %d runs each (ms)\n", runs);
    printf("                 median    mean     min     max\n");
    printf("Meridane        %7.1f %7.1f %7.1f %7.1f\n", fs.median, fs.mean, fs.min, fs.max);
    printf("minimal loader  %7.1f %7.1f %7.1f %7.1f\n", fl.median, fl.mean, fl.min, fl.max);
    printf("starter overhead (median): %.1f ms\n", fs.median - fl.median);
    return 0;
}
