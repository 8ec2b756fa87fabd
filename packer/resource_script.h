// The resource script handed to the resource compiler.
#pragma once

#include <cstddef>
#include <string>

#include "identity.h"

// `text` (UTF-8) as a wide string literal of the script in which everything
// but letters, digits, spaces and . - _ is a \x escape of one UTF-16 unit,
// so no code page and no quoting rule of the compiler can alter it.
bool wide_literal(const std::string& text, std::string* literal, std::string* error);

// The file names the script refers to, relative to the directory the
// compiler runs in.
constexpr const char* manifest_file = "resource-manifest.xml";
constexpr const char* icon_group_file = "resource-icon-group.bin";
std::string icon_file(size_t number);   // number counts from 1

// Manifest (24/1), icons (3/1..icon_count), icon group (14/1) and version
// block (16/1), all in the neutral language.
bool resource_script(const Identity& identity, size_t icon_count, std::string* script, std::string* error);
