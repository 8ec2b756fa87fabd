// The commands that look into a launcher without running it. Each prints
// what it found on standard output and returns the exit status; a problem
// is one line on standard error (through `fail`) and status 1.
#pragma once

#include <string>

#include "command_line.h"

int run_list(const CommandLine& line);
int run_extract(const CommandLine& line);
int run_verify(const CommandLine& line);
int run_info(const CommandLine& line);

// Prints "zembra: <message>" on standard error; returns 1.
int inspect_failure(const std::string& message);
