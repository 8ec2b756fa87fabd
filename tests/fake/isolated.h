// Runs a piece of launcher code in a forked process, so that fatal paths
// (exit, abort, silent stops) can be checked: how it ended and what it wrote.
#pragma once

#include <functional>
#include <string>

struct Isolated {
    bool exited = false;      // ended through exit/_exit (or returned)
    int exit_code = -1;
    int signal = 0;           // the signal that ended it, e.g. SIGABRT
    std::string out;          // everything written to standard output
    std::string err;          // everything written to standard error
};

// The child resets nothing: set up the fake before calling. A body that
// returns ends the child with exit code 0.
Isolated run_isolated(const std::function<void()>& body);
