#include "payload/attached.h"

#include <cstdlib>
#include <cstring>

#include "launcher/fatal.h"
#include "payload/block_format.h"
#include "platform/platform.h"

const unsigned char* attached_cursor = nullptr;
uint64_t attached_remaining = 0;
ZSTD_inBuffer decode_input = {nullptr, 0, 0};
ZSTD_outBuffer decode_window = {nullptr, 0, 0};
bool window_filled = false;
ZSTD_DCtx* decode_context = nullptr;

namespace {

// Decoded input is never read again, so it is handed back to the system a
// megabyte at a time: the launcher's resident memory then stays at the
// window and the decompressor's state, however large the attached data.
constexpr size_t release_step = 1 << 20;
size_t input_released = 0;   // bytes of decode_input handed back so far

void release_decoded_input() {
    if (decode_input.pos - input_released < release_step) return;
    os_release_pages(static_cast<const unsigned char*>(decode_input.src) + input_released,
                     decode_input.pos - input_released);
    input_released = decode_input.pos;
}

// Decodes the next window's worth of the entry stream. Between calls the
// window descriptor's size is the count of bytes decoded and its position the
// reader's cursor within them.
void refill_window() {
    // With the input used up, only a call that filled the window can have
    // left output inside the decompressor: anything else means the entry
    // stream ended early.
    if (decode_input.pos >= decode_input.size && !window_filled) fatal_message(msg_decode);

    size_t consumed_before = decode_input.pos;
    decode_window.pos = 0;
    decode_window.size = decode_window_size;
    size_t result = ZSTD_decompressStream(decode_context, &decode_window, &decode_input);
    if (ZSTD_isError(result)) fatal_message(msg_decode);
    release_decoded_input();
    window_filled = decode_window.pos == decode_window_size;
    decode_window.size = decode_window.pos;
    decode_window.pos = 0;

    // A call that neither consumed input nor produced output would be made
    // again with the same arguments forever.
    if (decode_window.size == 0 && decode_input.pos == consumed_before) fatal_message(msg_decode);
}

// Takes the next `n` bytes from the window, refilling it as often as needed;
// copies them to `out` unless it is null.
void take_from_window(unsigned char* out, uint64_t n) {
    while (n > 0) {
        size_t available = decode_window.size - decode_window.pos;
        if (available == 0) {
            refill_window();
            continue;
        }
        size_t take = n < available ? static_cast<size_t>(n) : available;
        if (out != nullptr) {
            std::memcpy(out, static_cast<const unsigned char*>(decode_window.dst) + decode_window.pos, take);
            out += take;
        }
        decode_window.pos += take;
        n -= take;
    }
}

}  // namespace

void open_attached() {
    // Compared byte by byte against what the block holds, so a block shorter
    // than the magic is a mismatch and is never read past its end.
    for (size_t i = 0; i < block_magic_size; ++i) {
        if (i >= attached_remaining || attached_cursor[i] != block_magic[i]) fatal_message(msg_no_header);
    }
    attached_cursor += block_magic_size;
    attached_remaining -= block_magic_size;

    void* window = std::malloc(decode_window_size);
    if (window == nullptr) fatal_message(msg_no_memory);
    decode_window = {window, 0, 0};
    window_filled = false;

    decode_context = ZSTD_createDCtx();
    if (decode_context == nullptr) fatal_message(msg_no_memory);

    // The block lies in the image: the decompressor reads it in place.
    decode_input = {attached_cursor, static_cast<size_t>(attached_remaining), 0};
    input_released = 0;
}

void read_attached(void* buffer, uint64_t n) { take_from_window(static_cast<unsigned char*>(buffer), n); }

void skip_attached(uint64_t n) { take_from_window(nullptr, n); }

void close_attached() {
    ZSTD_freeDCtx(decode_context);
    decode_context = nullptr;
    std::free(decode_window.dst);
    decode_window = {nullptr, 0, 0};
    window_filled = false;
}
