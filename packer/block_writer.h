// Writes a single-frame block (payload/block_format.h): the magic, one zstd
// frame holding whatever is written through it, the padding and the trailer.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "frame_encoder.h"

// The zero padding and trailer that end a block whose bytes so far number
// `written`.
std::vector<unsigned char> block_ending(uint64_t written);

class BlockWriter {
public:
    // Starts a block on `fd` (left open; the caller owns it) whose entry
    // stream will be `stream_size` bytes.
    bool begin(int fd, const CompressionSettings& settings, uint64_t stream_size, std::string* error);
    // Compresses `size` bytes of the entry stream.
    bool write(const void* data, size_t size, std::string* error);
    // Ends the frame and writes padding and trailer.
    bool finish(std::string* error);

    uint64_t bytes_out() const { return written_; }

    // Called as compression advances with the number of stream bytes that
    // the workers have compressed (not merely taken in).
    std::function<void(uint64_t)> on_progress;

private:
    bool put(const void* data, size_t size, std::string* error);

    int fd_ = -1;
    FrameEncoder frame_;
    uint64_t written_ = 0;
};
