#include "block_writer.h"

#include <cerrno>

#include "fd_io.h"
#include "host.h"
#include "payload/block_format.h"

std::vector<unsigned char> block_ending(uint64_t written) {
    std::vector<unsigned char> ending(padding_bytes(written) + trailer_bytes, 0);
    put_le(ending.data() + ending.size() - trailer_bytes, trailer_offset(written), trailer_bytes);
    return ending;
}

bool BlockWriter::begin(int fd, const CompressionSettings& settings, uint64_t stream_size, std::string* error) {
    fd_ = fd;
    written_ = 0;
    frame_.on_progress = [this](uint64_t consumed) {
        if (on_progress) on_progress(consumed);
    };
    // The stream's size is pledged: zstd then sizes its window and tables to
    // the input instead of to the largest window, and the frame states the
    // size (the launcher reads the stream only up to its end marker and needs
    // none). Every file is read at its listed size or the pack fails, so the
    // pledge holds.
    FrameSink sink = [this](const unsigned char* data, size_t size, std::string* why) { return put(data, size, why); };
    return frame_.begin(settings, settings.threads < 1 ? 1 : settings.threads, stream_size, sink, error) &&
           put(block_magic, block_magic_size, error);
}

bool BlockWriter::put(const void* data, size_t size, std::string* error) {
    if (!write_fully(fd_, data, size)) {
        *error = std::string("cannot write the block: ") + error_text(errno);
        return false;
    }
    written_ += size;
    return true;
}

bool BlockWriter::write(const void* data, size_t size, std::string* error) { return frame_.write(data, size, error); }

bool BlockWriter::finish(std::string* error) {
    if (!frame_.end(error)) return false;
    std::vector<unsigned char> ending = block_ending(written_);
    return put(ending.data(), ending.size(), error);
}
