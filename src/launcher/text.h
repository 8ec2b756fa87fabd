// Small helpers over NUL-terminated UTF-16 text in fixed buffers.
#pragma once

#include <cstddef>
#include <cstdint>

size_t text_length(const char16_t* text);
bool text_equal(const char16_t* a, const char16_t* b);

// Appends `text` to the NUL-terminated text in `dest` (capacity in units,
// NUL included). Stops the launcher (fatal_stop) when it would not fit.
void text_append(char16_t* dest, const char16_t* text, size_t capacity);

// Empties `dest`, then text_append.
void text_copy(char16_t* dest, const char16_t* text, size_t capacity);

// UTF-16 to UTF-8 for messages (unpaired surrogates become U+FFFD); always
// NUL-terminates within `capacity` bytes, cutting at a character boundary.
void text_to_utf8(const char16_t* text, char* out, size_t capacity);
