// Exclude patterns: which paths below the input directory are left out of
// the block. A pattern is matched, case and all, against a path relative to
// the input directory with '/' between its components:
//   *    any run of characters within one component (a leading dot too)
//   ?    any one character within one component
//   **   as a whole component, any number of components, none included
// A pattern holding a '/' is matched from the top of the input directory;
// one without matches a name at any depth. A leading '/' ties a pattern to
// the top, a trailing '/' lets it match directories only. A directory that
// matches is left out with everything below it.
#pragma once

#include <string>
#include <vector>

// Empty when `pattern` can be used; otherwise why not, as "it ...".
std::string exclude_pattern_problem(const std::string& pattern);

// Whether `pattern` matches the path `relative` itself, which names a
// directory when `is_directory`.
bool exclude_matches(const std::string& pattern, const std::string& relative, bool is_directory);

// The first of `patterns` that leaves out `relative`, matching it or one of
// the directories above it; nullptr when none does.
const std::string* excluding_pattern(const std::vector<std::string>& patterns, const std::string& relative,
                                     bool is_directory);
