// Self-registering modules, preloaded modules and the main module.
#pragma once

#include <windows.h>

// Registration run (or unregistration with unregister set) over the modules
// of "\SelfRegModules" in installCfg.
void registerModules(bool unregister);

// Loads the modules of "\PreLoadedModules" that are found along the search
// path; they stay loaded.
void preloadModules();

// Loads the main module, hands it the start-screen thread and runs RunAppW
// with the final command line; returns its result (1 when an exception
// leaves it). Fatal reports 9 and 10 when the module or RunAppW is missing.
// Frees the context's rebuilt command line.
int runMainModule();

// Exports for the main module.
#ifdef _MSC_VER
#define MERIDANE_EXPORT __declspec(dllexport)
#else
#define MERIDANE_EXPORT
#endif
extern "C" MERIDANE_EXPORT HMODULE GetMainDllInstance();
extern "C" MERIDANE_EXPORT const wchar_t *GetMainDllNameW();
MERIDANE_EXPORT void AddModuleToTrace();
