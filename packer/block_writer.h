// Writes an attached data block (payload/block_format.h): the magic, one
// zstd frame holding whatever is written through it, the padding and the
// trailer.
#pragma once

#include <zstd.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct CompressionSettings {
    int level = 19;
    int window_log = 27;   // the launcher decodes with zstd's default limit, 2^27
    int threads = 1;       // at least one worker: the output is then the same for any count
};

const int min_window_log = 10;
const int max_window_log = 27;

class BlockWriter {
public:
    BlockWriter() = default;
    BlockWriter(const BlockWriter&) = delete;
    BlockWriter& operator=(const BlockWriter&) = delete;
    ~BlockWriter();

    // Starts a block on `fd` (left open; the caller owns it).
    bool begin(int fd, const CompressionSettings& settings, std::string* error);
    // Compresses `size` bytes of the entry stream.
    bool write(const void* data, size_t size, std::string* error);
    // Ends the frame and writes padding and trailer.
    bool finish(std::string* error);

    uint64_t bytes_out() const { return written_; }

    // Called as compression advances with the number of stream bytes that
    // the workers have compressed (not merely taken in).
    std::function<void(uint64_t)> on_progress;

private:
    bool pump(ZSTD_inBuffer* input, ZSTD_EndDirective mode, std::string* error);
    bool put(const void* data, size_t size, std::string* error);

    int fd_ = -1;
    ZSTD_CCtx* context_ = nullptr;
    std::vector<unsigned char> output_;
    uint64_t written_ = 0;
};
