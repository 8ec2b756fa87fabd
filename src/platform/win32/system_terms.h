// What the launcher's logic needs to know of Windows, as plain numbers and
// types, so that it never includes <windows.h>. The build puts this folder on
// the include path of every tree that speaks Windows: the Windows launcher and
// the unit tests. errors.cpp checks the numbers against the system's headers.
#pragma once

#include <cstdint>

inline constexpr char16_t path_separator = u'\\';

// System error numbers for failures the launcher finds itself: a program
// that is not there, a write that the system calls a success but that wrote
// fewer bytes than asked.
inline constexpr uint32_t error_not_found = 2;      // ERROR_FILE_NOT_FOUND
inline constexpr uint32_t error_write_fault = 29;   // ERROR_WRITE_FAULT

// Windows starts a program with one command line, which the program splits
// itself: the launcher joins its arguments into it (child/command_line.cpp).
struct ChildCommand {
    char16_t* command_line;   // writable, as the system wants it
};
