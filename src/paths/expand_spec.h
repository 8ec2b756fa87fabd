// Path templates: text with placeholders such as {CACHE_DIR} between braces.
#pragma once

#include <cstddef>
#include <cstdint>

// Expands `spec` into `output` (capacity in units, NUL included). True when
// the whole template was expanded; false for an unknown placeholder, a value
// that cannot be had, or a plain character without room, with `output`
// holding what was produced so far. Stops the launcher when a placeholder
// value does not fit or ZEMBRA_ONEFILE_PARENT holds a non-digit.
bool expand_spec(char16_t* output, const char16_t* spec, size_t capacity);

// Base64url (no padding) of eight bytes: eleven characters and a NUL.
void encode_random_text(const unsigned char bytes[8], char out[12]);

// Eight bytes from a xorshift32 generator started at `seed` (0 counts as 1):
// the low byte of the state after each step.
void random_bytes(uint32_t seed, unsigned char out[8]);
