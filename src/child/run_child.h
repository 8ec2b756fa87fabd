#pragma once

#include <atomic>
#include <cstdint>

#include "platform/platform.h"

// The running child, shared with the console control handler.
extern std::atomic<ChildHandle> child_handle;

// Who may still use the handle in child_handle: 0 before a child has been
// started, n > 0 while the main sequence and n - 1 handlers hold it, and
// child_closed once it has been closed. Each user holds one count and the
// last to let go closes the handle, so it is closed exactly once and never
// used afterwards, whichever thread finishes first.
extern std::atomic<int> child_users;
inline constexpr int child_closed = -1;

// Starts the main executable, waits for it and returns its exit code (1 when
// it cannot be read). Stops the launcher when the start fails.
uint32_t run_child();

// Ends the running child on Ctrl+C, Ctrl+Break, close, logoff and shutdown,
// giving it five seconds first. Returns false, passing the event on, unless
// a child has been started: then it holds the event until the launcher has
// ended with the child's exit code.
bool console_ctrl_handler(uint32_t event);
