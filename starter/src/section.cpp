#include "section.h"

#include <wchar.h>

#include <new>

bool readSectionWith(SectionFetch fetch, void *fetchCtx, size_t chunk, SectionAction action,
                     void *ctx)
{
    if (chunk < 2)
        chunk = 2;
    wchar_t *buffer = nullptr;
    size_t got = 0;
    for (size_t n = 1; n <= kSectionMaxChunks; ++n) {
        size_t cap = n * chunk;
        delete[] buffer;
        buffer = new (std::nothrow) wchar_t[cap];
        if (!buffer)
            return false;
        got = fetch(buffer, cap, fetchCtx);
        if (got > cap - 1)
            got = cap - 1; // never read beyond what the buffer holds
        buffer[got] = 0;
        if (got < cap - 2)
            break;
    }
    // A truncated last attempt ends inside the buffer: entries are read up
    // to the count returned, the last one possibly cut.
    const wchar_t *end = buffer + got;
    for (const wchar_t *p = buffer; p < end && *p;) {
        size_t len = wcsnlen(p, (size_t)(end - p));
        if (len < kSectionEntryChars && !(p[0] == L'@' && p[1] == L'=')) {
            wchar_t entry[kSectionEntryChars];
            wmemcpy(entry, p, len);
            entry[len] = 0;
            wchar_t *eq = wcschr(entry, L'=');
            const wchar_t *value = L"";
            if (eq) {
                *eq = 0;
                value = eq + 1;
            }
            action(entry, value, ctx);
        }
        p += len + 1;
    }
    delete[] buffer;
    return true;
}
