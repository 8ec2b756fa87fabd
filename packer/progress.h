// Progress of a long pack on a terminal: percent and throughput, rewritten
// in place on standard error. Silent when standard error is not a terminal,
// so logs and pipes get no carriage returns.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>

class Progress {
public:
    // `enabled` is usually progress_wanted(); `total` is the input size.
    Progress(bool enabled, uint64_t total, std::FILE* stream = stderr);
    void advance(uint64_t bytes);
    // Shows the final state and ends the line.
    void finish();

private:
    void show();

    bool enabled_;
    uint64_t total_;
    uint64_t done_ = 0;
    std::FILE* stream_;
    std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point last_shown_;
    bool shown_ = false;
};

// True when standard error is a terminal.
bool progress_wanted();
