// The decoder contexts of both layouts, whose memory (above all the frame's
// window, up to 128 MiB) comes from the platform's window allocation rather
// than straight from the heap.
#pragma once

#include <zstd.h>

// Null when memory for the context cannot be had.
ZSTD_DCtx* create_decoder();
