#include "cmdline.h"

#include <shellapi.h>
#include <stdlib.h>
#include <wchar.h>

wchar_t *rebuildCommandLine(int argc, wchar_t *const *argv, size_t *capacity)
{
    size_t cap = 1;
    for (int i = 1; i < argc; ++i) {
        size_t len = wcslen(argv[i]);
        if (cap + len + 3 < cap)
            return nullptr;
        cap += len + 3;
    }
    if (cap > static_cast<size_t>(-1) / sizeof(wchar_t))
        return nullptr;
    wchar_t *text = static_cast<wchar_t *>(malloc(cap * sizeof(wchar_t)));
    if (!text)
        return nullptr;
    wchar_t *p = text;
    for (int i = 1; i < argc; ++i) {
        size_t len = wcslen(argv[i]);
        *p++ = L'"';
        wmemcpy(p, argv[i], len);
        p += len;
        *p++ = L'"';
        *p++ = L' ';
    }
    *p = 0;
    if (capacity)
        *capacity = cap;
    return text;
}

wchar_t *rebuildProcessCommandLine(size_t *capacity)
{
    int argc = 0;
    wchar_t **argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv)
        return rebuildCommandLine(0, nullptr, capacity);
    wchar_t *text = rebuildCommandLine(argc, argv, capacity);
    LocalFree(argv);
    return text;
}

namespace {

bool isSwitch(const wchar_t *token)
{
    return token[0] == L'-' || token[0] == L'/';
}

wchar_t *switchTarget(wchar_t letter, StarterSwitches *out)
{
    switch (letter) {
    case L'a': case L'A': return out->ddeAppName;
    case L'b': case L'B': return out->platformName;
    case L'g': case L'G': return out->packageFile;
    case L'p': case L'P': return out->profileName;
    case L'r': case L'R': return out->configName;
    default: return nullptr;
    }
}

} // namespace

void tokeniseSwitches(const wchar_t *commandLine, StarterSwitches *out)
{
    const wchar_t *p = commandLine ? commandLine : L"";
    wchar_t token[kStarterPath];
    wchar_t *pending = nullptr; // value buffer of the switch just seen
    for (;;) {
        while (*p == L' ')
            ++p;
        if (*p == 0)
            return;
        const wchar_t *start;
        const wchar_t *end;
        if (*p == L'"') {
            start = p + 1;
            end = wcschr(start, L'"');
            if (!end)
                end = start + wcslen(start);
            p = *end ? end + 1 : end;
        } else {
            start = p;
            end = start;
            while (*end && *end != L' ')
                ++end;
            p = end;
        }
        size_t len = static_cast<size_t>(end - start);
        if (len == 0)
            return; // "" ends the tokenising
        if (len >= kStarterPath)
            len = kStarterPath - 1;
        wmemcpy(token, start, len);
        token[len] = 0;

        if (isSwitch(token)) {
            pending = switchTarget(token[1], out);
        } else {
            if (pending)
                copyText(pending, kStarterPath, token);
            pending = nullptr;
        }
    }
}

void scanFlags(const wchar_t *commandLine, StarterFlags *out)
{
    const wchar_t *c = commandLine ? commandLine : L"";
    out->registerRun = wcsstr(c, L"-register") || wcsstr(c, L"-REGISTER")
        || wcsstr(c, L"/register") || wcsstr(c, L"/REGISTER");
    out->unregisterRun = wcsstr(c, L"-unregister") || wcsstr(c, L"-UNREGISTER")
        || wcsstr(c, L"/unregister") || wcsstr(c, L"/UNREGISTER");
    out->stopForConnect = wcsstr(c, L"-stop_for_connect") != nullptr;
    out->profiler = wcsstr(c, L"-profiler") != nullptr;
    out->reserve4GB = wcsstr(c, L"/4GB") != nullptr;
}

wchar_t *buildFinalCommandLine(const wchar_t *rebuilt, size_t rebuiltCapacity,
                               const wchar_t *installCfg)
{
    static const wchar_t kSwitch[] = L"_KxIniFileName_:";
    size_t cap = rebuiltCapacity + 520;
    if (cap < rebuiltCapacity || cap > static_cast<size_t>(-1) / sizeof(wchar_t))
        return nullptr;
    wchar_t *text = static_cast<wchar_t *>(malloc(cap * sizeof(wchar_t)));
    if (!text)
        return nullptr;
    text[0] = 0;
    if (!formatText(text, cap, L"%s /%s\"%s\"", rebuilt ? rebuilt : L"", kSwitch,
                    installCfg ? installCfg : L"")) {
        // A configuration path never exceeds 259 characters, so this only
        // happens with a capacity smaller than the rebuilt text: give up.
        free(text);
        return nullptr;
    }
    return text;
}

void freeText(wchar_t *text)
{
    free(text);
}
