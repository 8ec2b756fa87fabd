// Runs a build tool directly (no shell, so no quoting of paths), with its
// output collected for the report when it fails.
#pragma once

#include <string>
#include <vector>

// Runs `argv` (argv[0] looked up in PATH) in directory `cwd`, with standard
// output and error going to the file `log_path`. Returns the exit status,
// or -1 when it could not be started or did not exit normally.
int run_tool(const std::vector<std::string>& argv, const std::string& cwd, const std::string& log_path);

// The contents of a small text file, empty when it cannot be read.
std::string read_text_file(const std::string& path);
