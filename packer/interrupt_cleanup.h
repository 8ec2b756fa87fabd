// What an interrupted packer leaves behind: nothing. Temporary outputs and
// scratch directories are registered here while they exist; an interrupt
// (SIGINT, SIGTERM or SIGHUP; on Windows Ctrl+C, Ctrl+Break or closing the
// console) removes them before the packer ends as the interrupt would end it.
// One implementation per host: interrupt_cleanup_posix.cpp, _win32.cpp.
#pragma once

#include <string>

void install_interrupt_cleanup();

// `is_directory`: removed with everything in it.
void remove_on_interrupt(const std::string& path, bool is_directory);
void keep_on_interrupt(const std::string& path);

// Holds interrupts back for its lifetime, for the step between creating a
// temporary path and registering it: an interrupt in between would end the
// packer with the path left behind. Used while the packer has no other
// thread, and never nested.
class InterruptsHeld {
public:
    InterruptsHeld();
    ~InterruptsHeld();
    InterruptsHeld(const InterruptsHeld&) = delete;
    InterruptsHeld& operator=(const InterruptsHeld&) = delete;
};
