// Reading a whole private-profile (INI) section: the growing buffer and the
// split into entries. Plain text code; the system call that fills the
// buffer is passed in.
#pragma once

#include <stddef.h>

// Called for each entry with its key (text before the first '=') and value
// (text after it, empty without '=').
typedef void (*SectionAction)(const wchar_t *key, const wchar_t *value, void *ctx);

// Fills buffer (capacity characters) with the section's entries, each ended
// by a zero and the list by a second zero, and returns the characters
// written without the final zero; a list that does not fit is cut and
// capacity - 2 returned (the system's private-profile section function).
typedef size_t (*SectionFetch)(wchar_t *buffer, size_t capacity, void *fetchCtx);

enum { kSectionChunk = 8192, kSectionMaxChunks = 19, kSectionEntryChars = 260 };

// Fetches the section into n * chunk characters, n = 1, 2, ... while the
// result fills the buffer (capacity - 2 or more), at most kSectionMaxChunks
// times, the last result being used as it is. Then calls action for each
// entry in order; entries beginning with "@=" and entries of 260 characters
// or more are skipped. False only when the buffer cannot be allocated.
bool readSectionWith(SectionFetch fetch, void *fetchCtx, size_t chunk, SectionAction action,
                     void *ctx);
