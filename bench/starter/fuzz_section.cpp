// libFuzzer target: the INI section reader on an arbitrary section list
// (UTF-16 code units, zero units ending entries). A fake of the system's
// section function copies what fits and cuts the rest as the system does;
// the first byte picks a small chunk so that the growing buffer and the
// cut last attempt are reached with short inputs. Checks that every entry
// handed out is a whole entry of the list (or the cut last one), in order,
// split at its first '=', never one that begins with "@=" or is longer
// than 259 characters.

#include "section.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cwchar>
#include <string>
#include <vector>

namespace {

void check(bool ok)
{
    if (!ok)
        __builtin_trap();
}

struct FakeSection {
    std::vector<wchar_t> list; // entries, each ended by a zero, then a zero
    size_t largest = 0;
};

size_t fetch(wchar_t *buffer, size_t capacity, void *ctx)
{
    FakeSection *s = static_cast<FakeSection *>(ctx);
    if (capacity > s->largest)
        s->largest = capacity;
    if (s->list.size() <= capacity) {
        std::copy(s->list.begin(), s->list.end(), buffer);
        return s->list.size() - 1;
    }
    // Cut: capacity - 2 characters, then two zeros.
    std::copy(s->list.begin(), s->list.begin() + (capacity - 2), buffer);
    buffer[capacity - 2] = 0;
    buffer[capacity - 1] = 0;
    return capacity - 2;
}

struct Seen {
    std::vector<std::wstring> entries;
};

void collect(const wchar_t *key, const wchar_t *value, void *ctx)
{
    check(wcslen(key) + wcslen(value) < kSectionEntryChars);
    check(wcschr(key, L'=') == nullptr);
    static_cast<Seen *>(ctx)->entries.push_back(std::wstring(key) + L"\x1" + value);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    size_t chunk = 2 + data[0] % 40;
    FakeSection section;
    std::vector<std::wstring> entries(1);
    for (size_t i = 1; i + 1 < size; i += 2) {
        wchar_t unit = static_cast<wchar_t>(data[i] | (data[i + 1] << 8));
        if (unit == 0) {
            if (!entries.back().empty())
                entries.emplace_back();
        } else {
            entries.back() += unit;
        }
    }
    if (entries.back().empty())
        entries.pop_back();
    for (const std::wstring &e : entries) {
        section.list.insert(section.list.end(), e.begin(), e.end());
        section.list.push_back(0);
    }
    section.list.push_back(0);

    Seen seen;
    check(readSectionWith(fetch, &section, chunk, collect, &seen));
    check(section.largest <= chunk * kSectionMaxChunks);

    // What the reader could see: the list as the last attempt got it.
    size_t visible = section.list.size() <= section.largest ? section.list.size() - 1
                                                            : section.largest - 2;
    std::vector<std::wstring> expected;
    size_t pos = 0;
    for (const std::wstring &e : entries) {
        if (pos >= visible)
            break;
        std::wstring whole = e.substr(0, visible - pos);
        pos += e.size() + 1;
        if (whole.size() >= kSectionEntryChars || whole.compare(0, 2, L"@=") == 0)
            continue;
        size_t eq = whole.find(L'=');
        expected.push_back(eq == std::wstring::npos ? whole + L"\x1"
                                                    : whole.substr(0, eq) + L"\x1" + whole.substr(eq + 1));
    }
    check(seen.entries == expected);
    return 0;
}
