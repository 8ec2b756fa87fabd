// What an interrupted packer leaves behind: nothing. Temporary outputs and
// scratch directories are registered here while they exist; SIGINT, SIGTERM
// and SIGHUP remove them before the packer ends as the signal would end it.
#pragma once

#include <signal.h>

#include <string>

void install_interrupt_cleanup();

// `is_directory`: removed with everything in it.
void remove_on_interrupt(const std::string& path, bool is_directory);
void keep_on_interrupt(const std::string& path);

// Holds those signals back for its lifetime, for the step between creating a
// temporary path and registering it: a signal in between would end the
// packer with the path left behind. Only the calling thread is covered, so
// it is used while the packer has no other thread.
class InterruptsHeld {
public:
    InterruptsHeld();
    ~InterruptsHeld();
    InterruptsHeld(const InterruptsHeld&) = delete;
    InterruptsHeld& operator=(const InterruptsHeld&) = delete;

private:
    sigset_t saved_;
};
