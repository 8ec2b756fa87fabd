// Rules for the names the launcher writes on Windows: a name that breaks
// them would be refused by the system, land somewhere else (a stream, a
// device, another directory) or collide with a sibling.
#pragma once

#include <string>

// Empty when `component` (one file or directory name) can be written as is
// on Windows; otherwise the reason, e.g. "is not valid UTF-8".
std::string component_problem(const std::string& component);

// Empty when the entry name `name` (as the stream holds it, '\' between
// components) lands below the directory it is written into, on Windows and
// elsewhere; otherwise the reason: a forward slash, an absolute name or a
// drive, an empty, "." or ".." component, an unpaired surrogate, or a
// component Windows cannot hold (component_problem).
std::string entry_name_problem(const std::u16string& name);

// The name Windows would treat as the same as `component` (its case folded);
// two siblings with the same key overwrite each other.
std::u16string case_key(const std::string& component);
