// Runs a build tool directly (no shell, so no quoting of paths), with its
// output collected for the report when it fails.
#pragma once

#include <string>
#include <vector>

// Runs `argv` (argv[0] looked up in PATH) in directory `cwd`, with standard
// output and error going to the file `log_path`. Returns the exit status,
// or -1 when it could not be started or did not exit normally.
int run_tool(const std::vector<std::string>& argv, const std::string& cwd, const std::string& log_path);

// Runs one step of a build in `work_dir`. On failure the tool's output is
// relayed to standard error and `error` gets one line naming the step, as
// "<step> failed (<tool> exited with status N)".
bool run_step(const std::vector<std::string>& argv, const std::string& work_dir, const std::string& step,
              std::string* error);
