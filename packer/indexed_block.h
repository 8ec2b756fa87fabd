// Writes an indexed block (block_layout.h): frames compressed in parallel,
// one compressor each, so the block is the same for any thread count.
#pragma once

#include <string>

#include "input_tree.h"
#include "pack.h"

// Writes the block for the collected files (at least one) to `fd`, which
// must be a regular file: the index is written last, into room kept for it
// after the magic.
bool write_indexed_block(const InputTree& tree, const PackSettings& settings, Progress* progress, int fd,
                         std::string* error);
