// Environment variables named in the program as narrow (ASCII) text.
#pragma once

#include <cstddef>

// Appends `text`, widened unit by unit, to the NUL-terminated text in `dest`
// (capacity in units, NUL included). Stops the launcher when it would not fit.
void append_widened(char16_t* dest, const char* text, size_t capacity);

// A heap copy (malloc) of the variable's value, owned by the caller; null
// when the variable is unset, empty, or longer than 32767 units.
char16_t* get_env_var(const char* name);

bool set_env_var(const char* name, const char16_t* value);
void remove_env_var(const char* name);
