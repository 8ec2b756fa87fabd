#pragma once

#include <atomic>
#include <cstdint>

#include "platform/platform.h"

// The running child, shared with the console control handler.
extern std::atomic<ChildHandle> child_handle;

// Starts the main executable, waits for it and returns its exit code (1 when
// it cannot be read). Stops the launcher when the start fails.
uint32_t run_child();

// Ends the running child on Ctrl+C, Ctrl+Break, close, logoff and shutdown;
// always passes the event on (returns false).
bool console_ctrl_handler(uint32_t event);
