// libFuzzer target: the search path template expansion and the platform
// helpers on arbitrary text. The first bytes pick the output capacity and
// split the rest into a template and eight inserts. Checks that no output
// is overrun, that a cut result is a prefix of the uncut one and reported
// as cut, that "%5" replacement leaves no "%5" when the value (not empty)
// has neither character, and
// that the first platform element is one of the list's elements.

#include "expand.h"

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

std::wstring fromUnits(const uint8_t *data, size_t size)
{
    std::wstring s;
    for (size_t i = 0; i + 1 < size; i += 2) {
        wchar_t unit = static_cast<wchar_t>(data[i] | (data[i + 1] << 8));
        s += unit ? unit : L';';
    }
    return s;
}

// Result of f into a buffer of capacity characters, guarded by canaries.
template <typename F>
std::wstring bounded(size_t capacity, bool *complete, F f)
{
    std::vector<wchar_t> buffer(capacity + 2, L'#');
    *complete = f(buffer.data() + 1, capacity);
    check(buffer.front() == L'#' && buffer.back() == L'#');
    if (capacity == 0)
        return std::wstring();
    size_t len = wcsnlen(buffer.data() + 1, capacity);
    check(len < capacity);
    return std::wstring(buffer.data() + 1, len);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    size_t capacity = data[0] % 64;
    std::wstring all = fromUnits(data + 2, size - 2);
    // The text is split at ';'-free markers: '|' separates template and
    // inserts, so the template itself keeps its semicolons.
    std::vector<std::wstring> parts(1);
    for (wchar_t ch : all) {
        if (ch == L'|' && parts.size() < 9)
            parts.emplace_back();
        else
            parts.back() += ch;
    }
    parts.resize(9);
    const std::wstring &templ = parts[0];
    const wchar_t *inserts[8];
    for (int i = 0; i < 8; ++i)
        inserts[i] = (data[1] >> i) & 1 ? parts[i + 1].c_str() : nullptr;

    // Room for any expansion: each template character gives at most the
    // longest insert.
    size_t longest = 0;
    for (const std::wstring &p : parts)
        longest = p.size() > longest ? p.size() : longest;
    size_t room = templ.size() * (longest + 1) + 1;

    bool complete = false;
    std::wstring full = bounded(room, &complete, [&](wchar_t *out, size_t cap) {
        return expandTemplate(templ.c_str(), inserts, out, cap);
    });
    check(complete);
    bool cutComplete = false;
    std::wstring cut = bounded(capacity, &cutComplete, [&](wchar_t *out, size_t cap) {
        return expandTemplate(templ.c_str(), inserts, out, cap);
    });
    if (capacity > 0) {
        check(full.compare(0, cut.size(), cut) == 0);
        check(cutComplete == (cut == full));
    } else {
        check(!cutComplete);
    }

    const std::wstring &value = parts[1];
    std::wstring replaced = bounded(room, &complete, [&](wchar_t *out, size_t cap) {
        return replacePlaceholder5(templ.c_str(), value.c_str(), out, cap);
    });
    check(complete);
    if (!value.empty() && value.find(L'%') == std::wstring::npos
        && value.find(L'5') == std::wstring::npos)
        check(replaced.find(L"%5") == std::wstring::npos);
    std::wstring replacedCut = bounded(capacity, &cutComplete, [&](wchar_t *out, size_t cap) {
        return replacePlaceholder5(templ.c_str(), value.c_str(), out, cap);
    });
    check(replaced.compare(0, replacedCut.size(), replacedCut) == 0);

    std::wstring element = bounded(templ.size() + 1, &complete, [&](wchar_t *out, size_t cap) {
        return firstPlatformElement(templ.c_str(), out, cap);
    });
    if (complete) {
        check(element.find(L"%5") != std::wstring::npos && element.find(L';') == std::wstring::npos);
        std::wstring framed = L";" + templ + L";";
        check(framed.find(L";" + element + L";") != std::wstring::npos);
    } else {
        check(element.empty());
    }
    bounded(capacity, &complete, [&](wchar_t *out, size_t cap) {
        return firstPlatformElement(templ.c_str(), out, cap);
    });

    std::wstring list = bounded(capacity, &complete, [&](wchar_t *out, size_t cap) {
        return copyPathList(templ.c_str(), out, cap);
    });
    check(templ.compare(0, list.size(), list) == 0);
    if (complete)
        check(list == templ);
    else if (capacity > 0)
        check(list.size() < templ.size() && (list.empty() || templ[list.size()] == L';'));
    check(containsText(templ.c_str(), value.c_str()) == (templ.find(value) != std::wstring::npos));
    return 0;
}
