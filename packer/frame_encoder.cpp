// Frame progression (compressed, not just buffered, input) is in zstd's
// advanced API; the packer links zstd statically.
#define ZSTD_STATIC_LINKING_ONLY
#include "frame_encoder.h"

#include "host.h"

namespace {

// The compressor's memory: its tables are cleared at once when a frame
// begins, so they come from work areas (see host.h), where a high level's
// megabytes of tables cost a few faults rather than one for every page.
void* allocate(void*, size_t size) { return allocate_work_area(size); }
void release(void*, void* area) { free_work_area(area); }
const ZSTD_customMem work_area_memory{allocate, release, nullptr};

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

FrameEncoder::~FrameEncoder() { ZSTD_freeCCtx(context_); }

bool FrameEncoder::begin(const CompressionSettings& settings, int workers, uint64_t content_size, FrameSink sink,
                         std::string* error) {
    sink_ = std::move(sink);
    context_ = ZSTD_createCCtx_advanced(work_area_memory);
    if (context_ == nullptr) {
        *error = "out of memory for the compressor";
        return false;
    }
    output_size_ = ZSTD_CStreamOutSize();
    output_.reset(new unsigned char[output_size_]);
    // Long-distance matching finds repeats across files anywhere in the
    // window. No checksum is added: the launcher checks files by their
    // stored CRC-32.
    if (!set(context_, ZSTD_c_compressionLevel, settings.level, "compression level", error) ||
        !set(context_, ZSTD_c_windowLog, settings.window_log, "window log", error) ||
        !set(context_, ZSTD_c_enableLongDistanceMatching, 1, "long-distance matching", error) ||
        !set(context_, ZSTD_c_checksumFlag, 0, "checksum flag", error) ||
        !set(context_, ZSTD_c_nbWorkers, workers, "worker count", error)) {
        return false;
    }
    if (content_size != ZSTD_CONTENTSIZE_UNKNOWN) {
        size_t result = ZSTD_CCtx_setPledgedSrcSize(context_, content_size);
        if (ZSTD_isError(result)) {
            *error = std::string("zstd refused the content size: ") + ZSTD_getErrorName(result);
            return false;
        }
    }
    return true;
}

bool FrameEncoder::pump(ZSTD_inBuffer* input, ZSTD_EndDirective mode, std::string* error) {
    while (true) {
        ZSTD_outBuffer output{output_.get(), output_size_, 0};
        size_t remaining = ZSTD_compressStream2(context_, &output, input, mode);
        if (ZSTD_isError(remaining)) {
            *error = std::string("compression failed: ") + ZSTD_getErrorName(remaining);
            return false;
        }
        if (output.pos > 0 && !sink_(output_.get(), output.pos, error)) return false;
        if (on_progress) on_progress(ZSTD_getFrameProgression(context_).consumed);
        bool done = mode == ZSTD_e_end ? remaining == 0 : input->pos == input->size;
        if (done) return true;
    }
}

bool FrameEncoder::write(const void* data, size_t size, std::string* error) {
    ZSTD_inBuffer input{data, size, 0};
    return pump(&input, ZSTD_e_continue, error);
}

bool FrameEncoder::end(std::string* error) {
    ZSTD_inBuffer input{nullptr, 0, 0};
    return pump(&input, ZSTD_e_end, error);
}
