// Decoding one frame of an indexed block at a time, for one thread: each
// decoding thread owns a reader with its own window and decoder context.
#pragma once

#include <cstddef>
#include <cstdint>

#include <zstd.h>

#include "platform/platform.h"

struct FrameReader {
    ZSTD_DCtx* context;      // null until the reader is opened
    unsigned char* window;   // decode_window_size bytes
    ZSTD_inBuffer input;     // the frame being decoded, where it lies in the block
    size_t decoded;          // bytes of the window the last call produced
    size_t taken;            // of those, the ones already consumed
    bool window_filled;      // the last call filled the window: output may be pending
    size_t input_released;   // input bytes handed back to the system
};

// Allocates the window and creates the context; stops the launcher with the
// memory message when either cannot be had.
void open_frame_reader(FrameReader* reader);

// Starts decoding the frame of `size` bytes at `frame`.
void start_frame(FrameReader* reader, const unsigned char* frame, uint64_t size);

// The next `n` bytes of the frame's content into `out`, or past them when
// `out` is null; stops the launcher with the decoding message when the frame
// cannot give them.
void read_frame(FrameReader* reader, void* out, uint64_t n);

// The next `size` bytes of the frame's content written to `file` straight
// from the window, in pieces of at most write_chunk_size.
void write_frame_data(FrameReader* reader, FileHandle file, uint64_t size);

void close_frame_reader(FrameReader* reader);
