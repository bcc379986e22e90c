#include "expand.h"

#include <wchar.h>

namespace {

// Appends len characters; false (and nothing more written) when they do not
// fit.
struct Writer {
    wchar_t *out;
    size_t capacity;
    size_t used;
    bool cut;

    void put(const wchar_t *s, size_t len)
    {
        if (cut)
            return;
        size_t room = capacity - 1 - used;
        if (len > room) {
            len = room;
            cut = true;
        }
        wmemcpy(out + used, s, len);
        used += len;
        out[used] = 0;
    }
};

} // namespace

bool expandTemplate(const wchar_t *templ, const wchar_t *const inserts[8], wchar_t *out,
                    size_t capacity)
{
    if (capacity == 0)
        return false;
    Writer w = {out, capacity, 0, false};
    out[0] = 0;
    const wchar_t *p = templ ? templ : L"";
    while (*p) {
        if (p[0] == L'%' && p[1] >= L'1' && p[1] <= L'8') {
            const wchar_t *v = inserts[p[1] - L'1'];
            if (v)
                w.put(v, wcslen(v));
            p += 2;
        } else if (p[0] == L'%' && p[1] == L'%') {
            w.put(L"%", 1);
            p += 2;
        } else {
            w.put(p, 1);
            ++p;
        }
    }
    return !w.cut;
}

bool replacePlaceholder5(const wchar_t *text, const wchar_t *value, wchar_t *out,
                         size_t capacity)
{
    if (capacity == 0)
        return false;
    Writer w = {out, capacity, 0, false};
    out[0] = 0;
    const wchar_t *p = text ? text : L"";
    const wchar_t *v = value ? value : L"";
    size_t vlen = wcslen(v);
    while (*p) {
        if (p[0] == L'%' && p[1] == L'5') {
            w.put(v, vlen);
            p += 2;
        } else {
            w.put(p, 1);
            ++p;
        }
    }
    return !w.cut;
}

bool copyPathList(const wchar_t *list, wchar_t *out, size_t capacity)
{
    if (capacity == 0)
        return false;
    const wchar_t *s = list ? list : L"";
    size_t len = wcslen(s);
    if (len < capacity) {
        wmemcpy(out, s, len + 1);
        return true;
    }
    // Cut behind the last separator that still fits.
    size_t keep = capacity - 1;
    while (keep > 0 && s[keep] != L';')
        --keep;
    wmemcpy(out, s, keep);
    out[keep] = 0;
    return false;
}

bool firstPlatformElement(const wchar_t *list, wchar_t *out, size_t capacity)
{
    if (capacity == 0)
        return false;
    out[0] = 0;
    const wchar_t *p = list ? list : L"";
    for (;;) {
        const wchar_t *end = wcschr(p, L';');
        size_t len = end ? static_cast<size_t>(end - p) : wcslen(p);
        for (size_t i = 0; i + 1 < len; ++i) {
            if (p[i] == L'%' && p[i + 1] == L'5') {
                if (len >= capacity)
                    len = capacity - 1;
                wmemcpy(out, p, len);
                out[len] = 0;
                return true;
            }
        }
        if (!end)
            return false;
        p = end + 1;
    }
}

bool containsText(const wchar_t *text, const wchar_t *needle)
{
    return wcsstr(text ? text : L"", needle ? needle : L"") != nullptr;
}
