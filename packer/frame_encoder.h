// One zstd frame, compressed as its content is written and handed to a sink
// in order. Both block layouts make their frames with it, so they compress
// with the same parameters.
#pragma once

#include <zstd.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "block_layout.h"

struct CompressionSettings {
    int level = 19;
    int window_log = 27;   // an upper bound: the launcher decodes with zstd's default limit, 2^27
    int threads = 1;       // at least one worker: the output is then the same for any count
    BlockLayout layout = default_layout;
    uint64_t frame_target = default_frame_target;   // bytes of content per frame of an indexed block
};

const int min_window_log = 10;
const int max_window_log = 27;

// Receives compressed bytes; false (with `error` set) stops the frame.
using FrameSink = std::function<bool(const unsigned char* data, size_t size, std::string* error)>;

class FrameEncoder {
public:
    FrameEncoder() = default;
    FrameEncoder(const FrameEncoder&) = delete;
    FrameEncoder& operator=(const FrameEncoder&) = delete;
    ~FrameEncoder();

    // `workers` 0 compresses on the calling thread; 1 or more uses zstd's
    // workers, whose output is the same for any count. A known
    // `content_size` goes into the frame header, and the window then
    // shrinks to the content when that is smaller.
    bool begin(const CompressionSettings& settings, int workers, uint64_t content_size, FrameSink sink,
               std::string* error);
    bool write(const void* data, size_t size, std::string* error);
    bool end(std::string* error);

    // Called as compression advances with the number of content bytes that
    // have been compressed (not merely taken in).
    std::function<void(uint64_t)> on_progress;

private:
    bool pump(ZSTD_inBuffer* input, ZSTD_EndDirective mode, std::string* error);

    ZSTD_CCtx* context_ = nullptr;
    FrameSink sink_;
    // Not cleared when made: only the part the compressor fills is touched.
    std::unique_ptr<unsigned char[]> output_;
    size_t output_size_ = 0;
};
