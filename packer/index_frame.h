// The index of an indexed block as bytes: the skippable frame laid out in
// payload/block_index.h, checksum included.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct IndexedFrame {
    uint64_t block_offset = 0;
    uint64_t compressed_size = 0;
    uint64_t content_size = 0;
};

struct IndexedEntry {
    uint32_t frame = 0;
    uint64_t offset = 0;      // of its name within the frame's content
    uint64_t size = 0;
    uint32_t checksum = 0;    // as stored in the stream
    std::u16string name;
};

// Its length depends only on the number of frames and on the names, so a
// writer can reserve room for it before the frames are compressed.
std::vector<unsigned char> index_frame(const std::vector<IndexedFrame>& frames,
                                       const std::vector<IndexedEntry>& entries);
