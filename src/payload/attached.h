// Reading the attached data: a magic, then one zstd frame holding the entry
// stream, decoded through a fixed window.
#pragma once

#include <cstddef>
#include <cstdint>

#include <zstd.h>

inline constexpr size_t decode_window_size = 131072;

// Reader state, process-wide.
extern const unsigned char* attached_cursor;   // position in the block before decoding
extern uint64_t attached_remaining;            // bytes of the block from attached_cursor on
extern ZSTD_inBuffer decode_input;
extern ZSTD_outBuffer decode_window;
extern bool window_filled;
extern ZSTD_DCtx* decode_context;

// Checks the magic and sets up the decoder; stops the launcher on failure.
void open_attached();

// Copies the next `n` bytes of the entry stream into `buffer`; stops the
// launcher on any failure.
void read_attached(void* buffer, uint64_t n);

// Moves past the next `n` bytes of the entry stream without copying them:
// the data of a file already in place must still be decoded, but goes
// nowhere. Stops the launcher on any failure, as read_attached does.
void skip_attached(uint64_t n);

// Releases the decoder and its window.
void close_attached();
