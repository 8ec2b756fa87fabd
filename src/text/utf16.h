// NUL-terminated UTF-16 text: length, comparison and UTF-8 for messages and
// for systems whose paths are UTF-8. Depends on nothing, so the launcher's
// logic and the platform layers can all use it.
#pragma once

#include <cstddef>

size_t text_length(const char16_t* text);
bool text_equal(const char16_t* a, const char16_t* b);

// UTF-16 to UTF-8 (unpaired surrogates become U+FFFD); always NUL-terminates
// within `capacity` bytes, cutting at a character boundary.
void text_to_utf8(const char16_t* text, char* out, size_t capacity);
