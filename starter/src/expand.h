// Search path template expansion.
#pragma once

#include <stddef.h>

// Expands "%1" to "%8" with inserts[0..7] (a null insert counts as empty)
// and "%%" to "%"; every other percent sign is kept as it is. The result is
// cut to fit out (capacity characters, terminating zero included); returns
// false when it had to be cut.
bool expandTemplate(const wchar_t *templ, const wchar_t *const inserts[8], wchar_t *out,
                    size_t capacity);

// Copies text into out with every "%5" replaced by value; nothing else in
// the text is interpreted. Cut to fit; false when cut.
bool replacePlaceholder5(const wchar_t *text, const wchar_t *value, wchar_t *out,
                         size_t capacity);

// Copies a ';'-separated list into out; when it does not fit, it is cut
// behind the last whole element that fits (never inside a folder name).
// Returns false when cut.
bool copyPathList(const wchar_t *list, wchar_t *out, size_t capacity);

// The first ';'-separated element of list that contains "%5", copied into
// out (cut to fit). False when there is none.
bool firstPlatformElement(const wchar_t *list, wchar_t *out, size_t capacity);

// True when text contains needle as a substring (both may be null = empty).
bool containsText(const wchar_t *text, const wchar_t *needle);
