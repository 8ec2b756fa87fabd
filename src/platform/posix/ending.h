// How a POSIX launcher ends. A child that a signal ended makes the launcher
// end by the same signal, and so does an event signal after which the
// launcher had to kill its child; otherwise the child's code is the status.
#pragma once

#include <cstdint>

// Returns the exit status for `code`, the child's exit code as the main
// sequence returns it, or does not return at all.
int launcher_exit_status(uint32_t code);
