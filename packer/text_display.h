// UTF-16 text from a launcher (entry names, built-in texts) made fit to show:
// in a one-line message, and in JSON.
#pragma once

#include <string>

// Strict conversion: false, with `out` unspecified, on an unpaired surrogate.
bool utf16_to_utf8(const std::u16string& units, std::string* out);

// An entry name as a user reads it: '/' between components, control
// characters as \xNN and unpaired surrogates as \uDXXX, so that even a
// broken name can be shown and found.
std::string display_name(const std::u16string& name);

// `text` (UTF-8) as a JSON string, quotes included.
std::string json_string(const std::string& text);

// An entry name for JSON: '/' between components; unpaired surrogates as
// \uDXXX escapes, which JSON parsers take back as the same units.
std::string json_name(const std::u16string& name);
