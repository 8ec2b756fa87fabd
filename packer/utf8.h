// UTF-8 as the packer meets it: in file names and in option values.
#pragma once

#include <string>

// Converts strict UTF-8 (no overlong forms, no surrogates, nothing above
// U+10FFFF) to UTF-16. False, with `out` unspecified, on anything else.
bool utf8_to_utf16(const std::string& text, std::u16string* out);

bool is_valid_utf8(const std::string& text);

// Appends code point `c` to `out` as UTF-8.
void append_utf8(std::string* out, char32_t c);

// `text` fit for a one-line message: invalid bytes and control characters
// become \xNN escapes, so a broken name can still be shown and found.
std::string printable(const std::string& text);
