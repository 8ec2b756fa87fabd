#include "payload/attached.h"

#include <cstdlib>
#include <cstring>

#include "launcher/fatal.h"
#include "payload/block_format.h"
#include "payload/decoder.h"
#include "platform/platform.h"

namespace {

// Decoded input is never read again, so it is handed back to the system a
// megabyte at a time: the launcher's resident memory then stays at the
// window and the decompressor's state, however large the attached data.
constexpr size_t release_step = 1 << 20;

void release_decoded_input() {
    const ZSTD_inBuffer& input = launcher.decode_input;
    size_t& released = launcher.input_released;
    if (input.pos - released < release_step) return;
    os_release_pages(static_cast<const unsigned char*>(input.src) + released, input.pos - released);
    released = input.pos;
}

// Decodes the next window's worth of the entry stream. Between calls the
// window descriptor's size is the count of bytes decoded and its position the
// reader's cursor within them.
void refill_window() {
    ZSTD_inBuffer& input = launcher.decode_input;
    ZSTD_outBuffer& window = launcher.decode_window;
    // With the input used up, only a call that filled the window can have
    // left output inside the decompressor: anything else means the entry
    // stream ended early.
    if (input.pos >= input.size && !launcher.window_filled) fatal_message(msg_decode);

    size_t consumed_before = input.pos;
    window.pos = 0;
    window.size = decode_window_size;
    size_t result = ZSTD_decompressStream(launcher.decode_context, &window, &input);
    if (ZSTD_isError(result)) fatal_message(msg_decode);
    release_decoded_input();
    launcher.window_filled = window.pos == decode_window_size;
    window.size = window.pos;
    window.pos = 0;

    // A call that neither consumed input nor produced output would be made
    // again with the same arguments forever.
    if (window.size == 0 && input.pos == consumed_before) fatal_message(msg_decode);
}

// Takes the next `n` bytes from the window, refilling it as often as needed;
// copies them to `out` unless it is null.
void take_from_window(unsigned char* out, uint64_t n) {
    ZSTD_outBuffer& window = launcher.decode_window;
    while (n > 0) {
        size_t available = window.size - window.pos;
        if (available == 0) {
            refill_window();
            continue;
        }
        size_t take = n < available ? static_cast<size_t>(n) : available;
        if (out != nullptr) {
            std::memcpy(out, static_cast<const unsigned char*>(window.dst) + window.pos, take);
            out += take;
        }
        window.pos += take;
        n -= take;
    }
}

}  // namespace

void open_attached() {
    // Compared byte by byte against what the block holds, so a block shorter
    // than the magic is a mismatch and is never read past its end.
    for (size_t i = 0; i < block_magic_size; ++i) {
        if (i >= launcher.attached_remaining || launcher.attached_cursor[i] != block_magic[i])
            fatal_message(msg_no_header);
    }
    launcher.attached_cursor += block_magic_size;
    launcher.attached_remaining -= block_magic_size;

    void* window = std::malloc(decode_window_size);
    if (window == nullptr) fatal_message(msg_no_memory);
    launcher.decode_window = {window, 0, 0};
    launcher.window_filled = false;

    launcher.decode_context = create_decoder();
    if (launcher.decode_context == nullptr) fatal_message(msg_no_memory);

    // The block lies in the image: the decompressor reads it in place.
    launcher.decode_input = {launcher.attached_cursor, static_cast<size_t>(launcher.attached_remaining), 0};
    launcher.input_released = 0;
}

void read_attached(void* buffer, uint64_t n) { take_from_window(static_cast<unsigned char*>(buffer), n); }

void skip_attached(uint64_t n) { take_from_window(nullptr, n); }

void close_attached() {
    ZSTD_freeDCtx(launcher.decode_context);
    launcher.decode_context = nullptr;
    std::free(launcher.decode_window.dst);
    launcher.decode_window = {nullptr, 0, 0};
    launcher.window_filled = false;
}
