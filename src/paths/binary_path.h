#pragma once

#include <cstddef>

inline constexpr size_t binary_path_capacity = 4097;

// The process-wide buffer behind binary_path: empty until the path is known.
extern char16_t binary_path_buffer[binary_path_capacity];

// The launcher's own executable path, asked of the system once per process.
// The text lives in a process-wide buffer of 4097 units until the process
// ends; empty when the system could not say.
const char16_t* binary_path();
