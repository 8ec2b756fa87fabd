#pragma once

#include <cstdint>

#include "platform/platform.h"

// The running child is shared with the console control handler through
// launcher.child_handle and launcher.child_users (launcher/state.h). Each
// user of the handle holds one count and the last to let go closes it, so it
// is closed exactly once and never used afterwards, whichever thread
// finishes first; the count is then child_closed. While the system starts
// the child it is child_starting: a handler that arrives then waits for the
// handle rather than leave a child running behind a launcher that ended.
inline constexpr int child_closed = -1;
inline constexpr int child_starting = -2;

// Starts the main executable with `command`, waits for it and returns its
// exit code (1 when it cannot be read). Stops the launcher when the start
// fails.
uint32_t run_child(const ChildCommand& command);

// Ends the running child on Ctrl+C, Ctrl+Break, close, logoff and shutdown,
// giving it five seconds first. Returns false, passing the event on, unless
// a child has been started: then it holds the event until the launcher has
// ended with the child's exit code.
bool console_ctrl_handler(uint32_t event);
