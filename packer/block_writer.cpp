// Frame progression (compressed, not just buffered, input) is in zstd's
// advanced API; the packer links zstd statically.
#define ZSTD_STATIC_LINKING_ONLY
#include "block_writer.h"

#include <cerrno>
#include <cstring>

#include "fd_io.h"
#include "payload/block_format.h"

namespace {

bool set(ZSTD_CCtx* context, ZSTD_cParameter parameter, int value, const char* what, std::string* error) {
    size_t result = ZSTD_CCtx_setParameter(context, parameter, value);
    if (ZSTD_isError(result)) {
        *error = std::string("zstd refused the ") + what + " " + std::to_string(value) + ": " +
                 ZSTD_getErrorName(result);
        return false;
    }
    return true;
}

}  // namespace

BlockWriter::~BlockWriter() { ZSTD_freeCCtx(context_); }

bool BlockWriter::begin(int fd, const CompressionSettings& settings, std::string* error) {
    fd_ = fd;
    written_ = 0;
    context_ = ZSTD_createCCtx();
    if (context_ == nullptr) {
        *error = "out of memory for the compressor";
        return false;
    }
    output_.resize(ZSTD_CStreamOutSize());
    // Long-distance matching finds repeats across files anywhere in the
    // window. No content size is pledged and no checksum is added: the
    // launcher reads the stream only up to its end marker.
    return set(context_, ZSTD_c_compressionLevel, settings.level, "compression level", error) &&
           set(context_, ZSTD_c_windowLog, settings.window_log, "window log", error) &&
           set(context_, ZSTD_c_enableLongDistanceMatching, 1, "long-distance matching", error) &&
           set(context_, ZSTD_c_checksumFlag, 0, "checksum flag", error) &&
           set(context_, ZSTD_c_nbWorkers, settings.threads < 1 ? 1 : settings.threads, "worker count", error) &&
           put(block_magic, block_magic_size, error);
}

bool BlockWriter::put(const void* data, size_t size, std::string* error) {
    if (!write_fully(fd_, data, size)) {
        *error = std::string("cannot write the block: ") + std::strerror(errno);
        return false;
    }
    written_ += size;
    return true;
}

bool BlockWriter::pump(ZSTD_inBuffer* input, ZSTD_EndDirective mode, std::string* error) {
    while (true) {
        ZSTD_outBuffer output{output_.data(), output_.size(), 0};
        size_t remaining = ZSTD_compressStream2(context_, &output, input, mode);
        if (ZSTD_isError(remaining)) {
            *error = std::string("compression failed: ") + ZSTD_getErrorName(remaining);
            return false;
        }
        if (output.pos > 0 && !put(output_.data(), output.pos, error)) return false;
        if (on_progress) on_progress(ZSTD_getFrameProgression(context_).consumed);
        bool done = mode == ZSTD_e_end ? remaining == 0 : input->pos == input->size;
        if (done) return true;
    }
}

bool BlockWriter::write(const void* data, size_t size, std::string* error) {
    ZSTD_inBuffer input{data, size, 0};
    return pump(&input, ZSTD_e_continue, error);
}

bool BlockWriter::finish(std::string* error) {
    ZSTD_inBuffer input{nullptr, 0, 0};
    if (!pump(&input, ZSTD_e_end, error)) return false;
    static const unsigned char zeros[trailer_alignment] = {0};
    if (!put(zeros, padding_bytes(written_), error)) return false;
    unsigned char trailer[trailer_bytes];
    put_le(trailer, written_, trailer_bytes);
    return put(trailer, sizeof trailer, error);
}
