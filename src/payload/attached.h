// Reading the attached data: a magic, then one zstd frame holding the entry
// stream, decoded through a fixed window.
#pragma once

#include <cstdint>

// The reader keeps its state in `launcher` (launcher/state.h): the cursor
// into the block, the decoder's input, window and context.
#include "launcher/state.h"

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
