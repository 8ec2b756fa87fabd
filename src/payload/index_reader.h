// The index of an indexed block (payload/block_index.h), read and checked
// before anything is decoded: every frame and entry it lists, and what the
// launcher found on disk for each entry.
#pragma once

#include <cstddef>
#include <cstdint>

struct IndexedFrame {
    uint64_t offset;            // of the frame, from the block's first byte
    uint64_t compressed_size;
    uint64_t content_size;
    uint64_t decoder_memory;    // what decoding it may allocate: its window, or its content when less
    uint32_t first_entry;       // its entries, [first_entry, end_entry)
    uint32_t end_entry;
};

struct IndexedEntry {
    const unsigned char* name;  // name_length UTF-16LE units, inside the block
    uint64_t offset;            // of its name within its frame's content
    uint64_t size;
    uint32_t frame;
    uint32_t stored;            // the stored checksum
    uint16_t name_length;
    bool needs_writing;         // not in place at the last check
};

// Kept in `launcher` (launcher/state.h).
struct AttachedIndex {
    const unsigned char* block;   // the block's first byte (its magic)
    uint64_t block_size;
    IndexedFrame* frames;
    uint32_t frame_count;
    IndexedEntry* entries;
    uint32_t entry_count;
};

// True when the attached data starts with the magic and then an index's
// skippable frame. Anything else, a wrong magic included, is for the reader
// of a single stream, which also skips any other skippable frame.
bool attached_has_index();

// Reads the index at attached_cursor and checks it whole: its checksum, its
// version, frames that follow one another from the end of the index to
// before the trailer, each starting a zstd frame of the listed content size
// when the frame says it, entries in stream order that fill their frames
// exactly with the end marker closing the last, names of 1 to
// max_entry_name_units units without a 0 unit whose joined paths fit. A
// damaged index stops the launcher with the decoding message before anything
// is written; a path that does not fit stops it without a message, as it
// does in the stream.
void read_attached_index();

void release_attached_index();

// The entry's full path below target_dir.
void indexed_entry_path(const IndexedEntry& entry, char16_t* out);
