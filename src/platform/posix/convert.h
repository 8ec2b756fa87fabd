// Text at the POSIX boundary: the logic's UTF-16 against the system's UTF-8.
#pragma once

#include <cstddef>

// Both write at most `capacity` units/bytes including the NUL and return
// false when the text does not fit (the output is then cut).
bool utf16_to_native(const char16_t* text, char* out, size_t capacity);
bool native_to_utf16(const char* text, char16_t* out, size_t capacity);

// Room for any path the logic builds (4097 units, up to 3 bytes each).
inline constexpr size_t native_path_capacity = 3 * 4097 + 1;
