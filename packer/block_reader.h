// Reading an attached data block back, as a launcher would and more
// strictly: its shape (magic, layout, index), then every entry of its
// stream decoded through bounded buffers, never the whole application in
// memory, then its end (nothing after the end marker, zero padding, the
// trailer). Every problem is told with the block byte where it shows.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "block_layout.h"
#include "image_bytes.h"
#include "index_frame.h"

struct BlockProblem {
    std::string what;
    // Where it shows: for damage found while decoding, the compressed
    // byte the decoder had reached (within one zstd block of the fault).
    uint64_t block_byte = 0;
    bool located = true;   // false for a problem outside the block, such as a failed write
    bool in_entry = false;
    std::u16string entry;
};

// "entry 'lib/x.dll' at block byte 1234 (file byte 5330): what", the file
// byte only for a block that does not start the file.
std::string describe(const BlockProblem& problem, uint64_t block_offset);

struct BlockShape {
    BlockLayout layout = BlockLayout::single_frame;
    uint64_t size = 0;
    // An indexed block's index, checked whole: frames that follow one
    // another, entries in stream order filling them.
    std::vector<IndexedFrame> frames;
    std::vector<IndexedEntry> entries;
};

// Checks the magic and reads the index of an indexed block. A block that
// starts with some other skippable frame is read as a single stream, as a
// launcher reads it.
bool read_block_shape(const ImageBytes& bytes, uint64_t block_offset, uint64_t block_size, BlockShape* shape,
                      BlockProblem* problem);

struct WalkedEntry {
    std::u16string name;
    uint64_t size = 0;
    uint32_t stored = 0;          // its stored checksum
    uint64_t stream_offset = 0;   // of its name in the entry stream
    uint64_t block_byte = 0;      // where the decoder was as its header came out
    size_t number = 0;            // 0: the main program
};

// What a walk does with each entry. A false return stops the walk with the
// reason in `error`.
class EntrySink {
public:
    virtual ~EntrySink() = default;
    virtual bool begin(const WalkedEntry&, std::string* /*error*/) { return true; }
    virtual bool data(const unsigned char*, size_t, std::string* /*error*/) { return true; }
    // Called once the entry's data has passed the checksum (when checked).
    virtual bool end(const WalkedEntry&, std::string* /*error*/) { return true; }
};

struct WalkChecks {
    bool data = true;     // every entry's data against its stored checksum
    bool ending = true;   // nothing after the end marker, the padding, the trailer
};

struct WalkSummary {
    uint64_t files = 0;
    uint64_t bytes = 0;          // the entries' data
    uint64_t stream_bytes = 0;   // the entry stream, end marker included
};

// Decodes the block's entry stream, frame by frame for an indexed block
// (each frame against its index record, each entry against its own), and
// hands every entry to `sink`.
bool walk_block(const ImageBytes& bytes, uint64_t block_offset, const BlockShape& shape, const WalkChecks& checks,
                EntrySink& sink, WalkSummary* summary, BlockProblem* problem);
