// Checks the identity before anything is built, so that a launcher never
// carries a value it cannot use.
#pragma once

#include <string>

#include "identity.h"

// True when every field is usable; otherwise false with a one-line reason
// naming the option in `error`.
bool check_identity(const Identity& identity, std::string* error);

// The same for one text value, given by `option` ("--company", "--version",
// ...): not empty, UTF-8, and the form that option asks for.
bool check_identity_text(const std::string& option, const std::string& value, std::string* error);

// "1.0.20": three dot-separated numbers, each 0..65535 (the 16 bits the
// version block gives it), into `parts`. False with one line naming
// --version in `error` otherwise.
bool parse_version(const std::string& version, unsigned parts[3], std::string* error);
bool is_valid_version(const std::string& version);

// A path template the launcher can expand: every "{...}" names one of the
// placeholders the launcher knows (any ASCII case), braces are balanced and
// do not nest. False with the reason in `error`.
bool check_unpack_spec(const std::string& spec, std::string* error);
