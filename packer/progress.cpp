#include "progress.h"

#include "host.h"

bool progress_wanted() { return is_terminal(2); }

Progress::Progress(bool enabled, uint64_t total, std::FILE* stream)
    : enabled_(enabled), total_(total), stream_(stream), start_(std::chrono::steady_clock::now()) {}

Progress::~Progress() {
    if (shown_ && !finished_) std::fputc('\n', stream_);
}

void Progress::update(uint64_t done) {
    done_ = done < total_ ? done : total_;
    if (!enabled_) return;
    auto now = std::chrono::steady_clock::now();
    // A few updates a second are enough to read and cost nothing.
    if (shown_ && now - last_shown_ < std::chrono::milliseconds(200)) return;
    last_shown_ = now;
    show();
}

void Progress::show() {
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    double rate = seconds > 0 ? static_cast<double>(done_) / 1e6 / seconds : 0.0;
    unsigned percent = total_ == 0 ? 100 : static_cast<unsigned>(done_ * 100 / total_);
    std::fprintf(stream_, "\rpacking %3u%%  %7.1f MB/s", percent, rate);
    std::fflush(stream_);
    shown_ = true;
}

void Progress::finish() {
    if (!enabled_) return;
    done_ = total_;
    show();
    finished_ = true;
    std::fputc('\n', stream_);
    std::fflush(stream_);
}
