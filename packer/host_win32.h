// What the Windows host's files share with its interrupt handling
// (host_win32.cpp, interrupt_cleanup_win32.cpp). Not for the rest of the
// packer, which sees only host.h.
#pragma once

#include <atomic>
#include <string>

// A UTF-8 path as Windows takes it: absolute, with '\' separators, "." and
// ".." resolved by the packer itself and always with the "\\?\" prefix, so
// that length is no limit and no name part is changed by the system (trailing
// dots and spaces, device names).
std::wstring system_path(const std::string& path);

// UTF-16 to UTF-8. A lone surrogate becomes its three-byte form, which is not
// valid UTF-8, so a name that is not valid UTF-16 is refused as invalid UTF-8.
std::string narrow(const wchar_t* text, size_t length);

// Set once an interrupt is being handled. From then on a failing file
// operation does not return: the handler is closing the packer's files and
// ends the process, and no error line must reach the user meanwhile.
extern std::atomic<bool> interrupt_in_progress;

// Closes every file the packer has open, for the interrupt handler.
void close_all_files();
