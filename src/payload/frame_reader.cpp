#include "payload/frame_reader.h"

#include <cstdlib>
#include <cstring>

#include "launcher/fatal.h"
#include "launcher/state.h"
#include "payload/attached.h"
#include "payload/decoder.h"
#include "payload/unpack.h"

namespace {

// Decoded input is handed back a megabyte at a time, so that resident memory
// stays at the windows and contexts however large the frames are.
constexpr size_t release_step = 1 << 20;

void release_decoded_input(FrameReader* reader) {
    if (reader->input.pos - reader->input_released < release_step) return;
    os_release_pages(static_cast<const unsigned char*>(reader->input.src) + reader->input_released,
                     reader->input.pos - reader->input_released);
    reader->input_released = reader->input.pos;
}

// The input is exactly the frame: once it is used up, only a call that
// filled the window can have left output behind, and a call that neither
// took input nor gave output would repeat forever.
void refill_window(FrameReader* reader) {
    if (reader->input.pos >= reader->input.size && !reader->window_filled) fatal_message(msg_decode);
    size_t consumed_before = reader->input.pos;
    ZSTD_outBuffer output = {reader->window, decode_window_size, 0};
    size_t result = ZSTD_decompressStream(reader->context, &output, &reader->input);
    if (ZSTD_isError(result)) fatal_message(msg_decode);
    release_decoded_input(reader);
    reader->window_filled = output.pos == decode_window_size;
    reader->decoded = output.pos;
    reader->taken = 0;
    if (output.pos == 0 && reader->input.pos == consumed_before) fatal_message(msg_decode);
}

// The next decoded bytes, at most `limit` of them, as they lie in the window.
size_t next_piece(FrameReader* reader, uint64_t limit, const unsigned char** piece) {
    while (reader->taken == reader->decoded) refill_window(reader);
    size_t available = reader->decoded - reader->taken;
    size_t count = limit < available ? static_cast<size_t>(limit) : available;
    *piece = reader->window + reader->taken;
    reader->taken += count;
    return count;
}

}  // namespace

void open_frame_reader(FrameReader* reader) {
    *reader = {};
    reader->window = static_cast<unsigned char*>(std::malloc(decode_window_size));
    if (reader->window == nullptr) fatal_message(msg_no_memory);
    reader->context = create_decoder();
    if (reader->context == nullptr) fatal_message(msg_no_memory);
}

void start_frame(FrameReader* reader, const unsigned char* frame, uint64_t size) {
    ZSTD_DCtx_reset(reader->context, ZSTD_reset_session_only);
    reader->input = {frame, static_cast<size_t>(size), 0};
    reader->decoded = reader->taken = 0;
    reader->window_filled = false;
    reader->input_released = 0;
}

void read_frame(FrameReader* reader, void* out, uint64_t n) {
    auto* to = static_cast<unsigned char*>(out);
    while (n > 0) {
        const unsigned char* piece = nullptr;
        size_t count = next_piece(reader, n, &piece);
        if (to != nullptr) {
            std::memcpy(to, piece, count);
            to += count;
        }
        n -= count;
    }
}

void write_frame_data(FrameReader* reader, FileHandle file, uint64_t size) {
    while (size > 0) {
        const unsigned char* piece = nullptr;
        size_t count = next_piece(reader, size < write_chunk_size ? size : write_chunk_size, &piece);
        write_entry_piece(file, piece, static_cast<uint32_t>(count));
        size -= count;
    }
}

void close_frame_reader(FrameReader* reader) {
    if (reader->context == nullptr) return;
    ZSTD_freeDCtx(reader->context);
    std::free(reader->window);
    *reader = {};
}
