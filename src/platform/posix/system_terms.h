// What the launcher's logic needs to know of a POSIX system. The build puts
// this folder on the include path of the POSIX launcher and its tests.
#pragma once

#include <cerrno>
#include <cstdint>

inline constexpr char16_t path_separator = u'/';

// System error numbers for failures the launcher finds itself: a program
// that is not there, a write that the system calls a success but that wrote
// fewer bytes than asked.
inline constexpr uint32_t error_not_found = ENOENT;
inline constexpr uint32_t error_write_fault = EIO;

// A POSIX program starts with its argument vector, which the launcher passes
// on as it is (child/argument_vector.cpp): no command line, no quoting, and
// no limit but the system's own.
struct ChildCommand {
    char16_t* const* args;   // argument 0 first
    int count;
};
