// Progress of a long pack on a terminal: percent and throughput, rewritten
// in place on standard error. Silent when standard error is not a terminal,
// so logs and pipes get no carriage returns.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>

class Progress {
public:
    // `enabled` is usually progress_wanted(); `total` is the amount of work.
    Progress(bool enabled, uint64_t total, std::FILE* stream = stderr);
    // Ends a line left open by a pack that failed, so its message starts
    // on a line of its own.
    ~Progress();
    // `done` of `total` is finished.
    void update(uint64_t done);
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
    bool finished_ = false;
};

// True when standard error is a terminal.
bool progress_wanted();
