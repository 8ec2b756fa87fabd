#pragma once

#include <cstddef>

// The longest command line the system starts a program with: 32767 units
// with the NUL. A longer one fails to start on Windows and reaches the child
// cut short under Wine, so it counts as one that does not fit.
inline constexpr size_t longest_command_line = 32766;

// Joins the child's arguments (take_child_arguments) into
// launcher.child_command_line by the quoting rule that the system's
// splitting reverses. Stops the launcher when the arguments cannot be had or
// the line would be longer than longest_command_line.
void build_child_command_line();

// Appends one argument, quoted where needed, to `line`; false when it would
// not fit in `capacity` units (NUL included), leaving `line` as it was.
bool append_quoted_argument(char16_t* line, const char16_t* arg, size_t capacity);
