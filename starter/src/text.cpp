// Bounded wide-text helpers.
#include "context.h"

#include <stdarg.h>
#include <stdio.h>
#include <wchar.h>

bool copyText(wchar_t *out, size_t capacity, const wchar_t *text)
{
    if (capacity == 0)
        return false;
    size_t i = 0;
    if (text) {
        for (; text[i] && i + 1 < capacity; ++i)
            out[i] = text[i];
    }
    out[i] = 0;
    return !text || text[i] == 0;
}

bool appendText(wchar_t *out, size_t capacity, const wchar_t *text)
{
    size_t used = wcsnlen(out, capacity);
    if (used >= capacity)
        return false;
    return copyText(out + used, capacity - used, text);
}

bool formatText(wchar_t *out, size_t capacity, const wchar_t *format, ...)
{
    if (capacity == 0)
        return false;
    va_list args;
    va_start(args, format);
    int n = _vsnwprintf(out, capacity, format, args);
    va_end(args);
    out[capacity - 1] = 0;
    return n >= 0 && static_cast<size_t>(n) < capacity;
}
