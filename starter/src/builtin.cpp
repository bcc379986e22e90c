#include "builtin.h"

#include <windows.h>

#include "builtin_settings.inc"

namespace {

wchar_t g_values[4][256];

bool decode(const unsigned char *bytes, unsigned int length, unsigned int check, int slot,
            wchar_t *out)
{
    out[0] = 0;
    if (length > 1020)
        return false;
    char plain[1024];
    unsigned int hash = 2166136261u;
    for (unsigned int i = 0; i < length; ++i) {
        unsigned char key = static_cast<unsigned char>((167 + 31 * i + 17 * slot) & 255);
        unsigned char b = static_cast<unsigned char>(bytes[i] ^ key);
        plain[i] = static_cast<char>(b);
        hash = (hash ^ b) * 16777619u;
    }
    if (hash != check)
        return false;
    if (length == 0)
        return true;
    int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, plain, static_cast<int>(length),
                                out, 255);
    if (n <= 0)
        return false;
    out[n] = 0;
    return true;
}

} // namespace

bool loadBuiltinSettings()
{
    bool ok = decode(kSetting0, kSetting0Length, kSetting0Check, 0, g_values[0])
        && decode(kSetting1, kSetting1Length, kSetting1Check, 1, g_values[1])
        && decode(kSetting2, kSetting2Length, kSetting2Check, 2, g_values[2])
        && decode(kSetting3, kSetting3Length, kSetting3Check, 3, g_values[3]);
    if (!ok) {
        for (int i = 0; i < 4; ++i)
            g_values[i][0] = 0;
    }
    return ok;
}

const wchar_t *builtinSetting(BuiltinSetting which)
{
    return g_values[which];
}
