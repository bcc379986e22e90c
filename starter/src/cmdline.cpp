#include "cmdline.h"

#include <stdlib.h>
#include <wchar.h>

namespace {

const size_t kNoRoom = static_cast<size_t>(-1);

// Characters of the argument written in quotes for the system's splitting
// rules: a run of backslashes is doubled when a quote follows it (an inner
// quote, escaped itself, or the closing one); elsewhere backslashes are
// literal. kNoRoom when the length does not fit a size_t.
size_t quotedLength(const wchar_t *arg)
{
    size_t n = 2;
    size_t backslashes = 0;
    for (const wchar_t *p = arg; *p; ++p) {
        size_t add;
        if (*p == L'\\') {
            ++backslashes;
            continue;
        }
        add = *p == L'"' ? 2 * backslashes + 2 : backslashes + 1;
        backslashes = 0;
        if (n + add < n)
            return kNoRoom;
        n += add;
    }
    if (n + 2 * backslashes < n)
        return kNoRoom;
    return n + 2 * backslashes;
}

wchar_t *putBackslashes(wchar_t *p, size_t count)
{
    for (size_t i = 0; i < count; ++i)
        *p++ = L'\\';
    return p;
}

wchar_t *putQuoted(wchar_t *p, const wchar_t *arg)
{
    *p++ = L'"';
    size_t backslashes = 0;
    for (const wchar_t *s = arg; *s; ++s) {
        if (*s == L'\\') {
            ++backslashes;
        } else if (*s == L'"') {
            p = putBackslashes(p, 2 * backslashes + 1);
            *p++ = L'"';
            backslashes = 0;
        } else {
            p = putBackslashes(p, backslashes);
            *p++ = *s;
            backslashes = 0;
        }
    }
    p = putBackslashes(p, 2 * backslashes);
    *p++ = L'"';
    return p;
}

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

void copyCut(wchar_t *out, const wchar_t *text)
{
    size_t len = wcslen(text);
    if (len >= kStarterPath)
        len = kStarterPath - 1;
    wmemcpy(out, text, len);
    out[len] = 0;
}

bool beginsWithAny(const wchar_t *arg, const wchar_t *const *texts, size_t count)
{
    for (size_t i = 0; i < count; ++i) {
        if (wcsncmp(arg, texts[i], wcslen(texts[i])) == 0)
            return true;
    }
    return false;
}

} // namespace

wchar_t *rebuildCommandLine(int argc, wchar_t *const *argv, size_t *capacity)
{
    size_t cap = 1;
    for (int i = 1; i < argc; ++i) {
        size_t len = quotedLength(argv[i]);
        if (len == kNoRoom || cap + len + 1 < cap)
            return nullptr;
        cap += len + 1;
    }
    if (cap > static_cast<size_t>(-1) / sizeof(wchar_t))
        return nullptr;
    wchar_t *text = static_cast<wchar_t *>(malloc(cap * sizeof(wchar_t)));
    if (!text)
        return nullptr;
    wchar_t *p = text;
    for (int i = 1; i < argc; ++i) {
        p = putQuoted(p, argv[i]);
        *p++ = L' ';
    }
    *p = 0;
    if (capacity)
        *capacity = cap;
    return text;
}

void tokeniseSwitches(int argc, wchar_t *const *argv, StarterSwitches *out)
{
    wchar_t *pending = nullptr; // value buffer of the switch just seen
    for (int i = 1; i < argc; ++i) {
        const wchar_t *token = argv[i];
        if (token[0] == 0)
            return; // an empty argument ends the tokenising
        if (isSwitch(token)) {
            pending = switchTarget(token[1], out);
        } else {
            if (pending)
                copyCut(pending, token);
            pending = nullptr;
        }
    }
}

void scanFlags(int argc, wchar_t *const *argv, StarterFlags *out)
{
    static const wchar_t *const kRegister[] = {L"-register", L"-REGISTER", L"/register",
                                               L"/REGISTER"};
    static const wchar_t *const kUnregister[] = {L"-unregister", L"-UNREGISTER", L"/unregister",
                                                 L"/UNREGISTER"};
    static const wchar_t *const kStop[] = {L"-stop_for_connect"};
    static const wchar_t *const kProfiler[] = {L"-profiler"};
    static const wchar_t *const k4GB[] = {L"/4GB"};
    StarterFlags f = {false, false, false, false, false};
    for (int i = 1; i < argc; ++i) {
        const wchar_t *a = argv[i];
        f.registerRun = f.registerRun || beginsWithAny(a, kRegister, 4);
        f.unregisterRun = f.unregisterRun || beginsWithAny(a, kUnregister, 4);
        f.stopForConnect = f.stopForConnect || beginsWithAny(a, kStop, 1);
        f.profiler = f.profiler || beginsWithAny(a, kProfiler, 1);
        f.reserve4GB = f.reserve4GB || beginsWithAny(a, k4GB, 1);
    }
    *out = f;
}

wchar_t *buildFinalCommandLine(const wchar_t *rebuilt, size_t rebuiltCapacity,
                               const wchar_t *installCfg)
{
    static const wchar_t kSwitch[] = L" /_KxIniFileName_:\"";
    const wchar_t *line = rebuilt ? rebuilt : L"";
    const wchar_t *cfg = installCfg ? installCfg : L"";
    size_t cap = rebuiltCapacity + 520;
    if (cap < rebuiltCapacity || cap > static_cast<size_t>(-1) / sizeof(wchar_t))
        return nullptr;
    size_t lineLen = wcslen(line);
    size_t switchLen = wcslen(kSwitch);
    size_t cfgLen = wcslen(cfg);
    // A configuration path never exceeds 259 characters, so this only
    // happens with a capacity smaller than the rebuilt text: give up.
    if (lineLen >= cap || cap - lineLen <= switchLen + cfgLen + 1)
        return nullptr;
    wchar_t *text = static_cast<wchar_t *>(malloc(cap * sizeof(wchar_t)));
    if (!text)
        return nullptr;
    wchar_t *p = text;
    wmemcpy(p, line, lineLen);
    p += lineLen;
    wmemcpy(p, kSwitch, switchLen);
    p += switchLen;
    wmemcpy(p, cfg, cfgLen);
    p += cfgLen;
    *p++ = L'"';
    *p = 0;
    return text;
}

void freeText(wchar_t *text)
{
    free(text);
}
