// Text in the launcher's fixed buffers: appending stops the launcher when
// the text would not fit.
#pragma once

#include <cstddef>

#include "text/utf16.h"

// Appends `text` to the NUL-terminated text in `dest` (capacity in units,
// NUL included). Stops the launcher (fatal_stop) when it would not fit.
void text_append(char16_t* dest, const char16_t* text, size_t capacity);

// Empties `dest`, then text_append.
void text_copy(char16_t* dest, const char16_t* text, size_t capacity);
