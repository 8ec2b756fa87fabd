// The index of an indexed block: what a launcher needs to check every file in
// place before it decodes anything, and to decode only the frames that hold
// files to write.
//
// An indexed block is laid out as
//
//   "QVR" | skippable frame holding the index | frame 0 | frame 1 | ... |
//   zero padding to a multiple of 8 | u64 trailer
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
//   0       4     index_magic "QVRI"
//   4       4     version (index_version)
//   8       4     frame count F (at least 1)
//   12      4     entry count E (at least 1)
//   16      24*F  frames: u64 block offset of the frame (from the block's
//                 first byte), u64 compressed size, u64 content size
//   ...           entries, E times, in stream order:
//                   u32 frame number, u64 offset of the entry's name within
//                   that frame's content, u64 data size, u32 stored checksum,
//                   u16 name length n (1 to 1023 units), n UTF-16LE units (no
//                   terminator)
//   L - 4   4     CRC-32 (zlib's, from 0) of the L - 4 bytes before it
//
// A reader trusts nothing of it before the checksum holds, and then checks
// that frames follow one another without gaps from the end of the skippable
// frame, that the last one ends inside the block before its padding, and that
// entries lie in stream order inside their frames.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr uint32_t index_frame_magic = 0x184D2A5Au;   // one of zstd's skippable-frame magics
inline constexpr unsigned char index_magic[4] = {'Q', 'V', 'R', 'I'};
inline constexpr uint32_t index_version = 1;

inline constexpr size_t index_frame_header_size = 8;   // skippable magic + length
inline constexpr size_t index_header_size = 16;        // magic, version, frame count, entry count
inline constexpr size_t index_frame_record_size = 24;
inline constexpr size_t index_entry_fixed_size = 4 + 8 + 8 + 4 + 2;   // before the name's units
inline constexpr size_t index_checksum_size = 4;
