// The index of an indexed block: what a launcher needs to check every file in
// place before it decodes anything, and to decode only the frames that hold
// files to write.
//
// An indexed block is laid out as
//
//   block_magic | skippable frame holding the index | frame 0 | frame 1 |
//   ... | padding and trailer as in a single-frame block
//
// The frames' contents, concatenated, are exactly the entry stream of a
// single-frame block (names, sizes, checksums, data, end marker), and every
// frame begins and ends at an entry boundary; the last frame ends with the
// end marker. zstd's streaming decoder skips the skippable frame and runs
// across concatenated frames, so a reader that knows nothing of the index
// still reads an indexed block as one entry stream.
//
// The skippable frame is a u32 LE magic (index_frame_magic), a u32 LE length
// L, and L bytes of index content. All integers are little-endian:
//
//   offset  size  field
//   0       4     index_magic: block_magic and 'I'
//   4       4     version (index_version)
//   8       4     frame count F (at least 1)
//   12      4     entry count E (at least 1)
//   16      24*F  frames: u64 block offset of the frame (from the block's
//                 first byte), u64 compressed size, u64 content size
//   ...           entries, E times, in stream order:
//                   u32 frame number, u64 offset of the entry's name within
//                   that frame's content, u64 data size, u32 stored checksum,
//                   u16 name length n (1 to max_entry_name_units), n
//                   UTF-16LE units (no terminator)
//   L - 4   4     CRC-32 (zlib's, from 0) of the L - 4 bytes before it
//
// A reader trusts nothing of it before the checksum holds, and then checks
// that frames follow one another without gaps from the end of the skippable
// frame, that the last one ends inside the block before its padding, and that
// entries lie in stream order inside their frames.
#pragma once

#include <cstddef>
#include <cstdint>

#include "payload/block_format.h"

inline constexpr uint32_t index_frame_magic = 0x184D2A5Au;   // one of zstd's skippable-frame magics
inline constexpr unsigned char index_magic[] = {block_magic[0], block_magic[1], block_magic[2], 'I'};
static_assert(sizeof index_magic == block_magic_size + 1, "the block's magic and one letter");
inline constexpr uint32_t index_version = 1;

inline constexpr size_t index_frame_header_size = 8;   // skippable magic + length
inline constexpr size_t index_header_size = 16;        // magic, version, frame count, entry count
inline constexpr size_t index_frame_record_size = 24;
// Frame number, offset in its content, the entry's size and checksum as the
// stream holds them, name length: the record before the name's units.
inline constexpr size_t index_entry_fixed_size = 4 + 8 + entry_size_bytes + entry_checksum_bytes + 2;
inline constexpr size_t index_checksum_size = 4;
