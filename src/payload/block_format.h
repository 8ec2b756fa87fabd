// The attached data block, as the packer writes it and the launcher reads it:
//
//   magic "QVR" | one zstd frame holding the entry stream | zero padding to
//   the next multiple of 8 | trailer: u64 equal to its own offset
//
// The entry stream is, per file, its name as UTF-16 units and a 0 unit, a
// u64 size, a u32 checksum and the data; a lone 0 unit (an empty name) ends
// it. Every integer is little-endian whatever the host is.
//
// Header-only and free of the standard library beyond integer types, so the
// launcher's fixed-buffer code and the packer share it as it is.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr unsigned char block_magic[] = {'Q', 'V', 'R'};
inline constexpr size_t block_magic_size = sizeof block_magic;

// Entry header fields, in stream order.
inline constexpr size_t name_unit_bytes = 2;
inline constexpr size_t entry_size_bytes = 8;
inline constexpr size_t entry_checksum_bytes = 4;

// The end marker: one 0 unit where the next name would begin.
inline constexpr size_t end_marker_bytes = name_unit_bytes;

inline constexpr size_t trailer_alignment = 8;
inline constexpr size_t trailer_bytes = 8;

// A name's units with their terminator fit the reader's name buffer, and
// the target directory, one separator and the name fit a path buffer.
inline constexpr size_t entry_name_capacity = 1024;
inline constexpr size_t max_entry_name_units = entry_name_capacity - 1;
inline constexpr size_t path_capacity = 4096;

// Stream bytes of an entry before its data, for a name of `name_units`.
constexpr uint64_t entry_header_bytes(uint64_t name_units) {
    return name_unit_bytes * (name_units + 1) + entry_size_bytes + entry_checksum_bytes;
}

// Where the trailer goes after `body_size` bytes of magic and frame, and the
// zero bytes that lead up to it.
constexpr uint64_t trailer_offset(uint64_t body_size) {
    return (body_size + trailer_alignment - 1) / trailer_alignment * trailer_alignment;
}
constexpr uint64_t padding_bytes(uint64_t body_size) { return trailer_offset(body_size) - body_size; }

// The checksum an entry stores: the CRC-32 of its data, with 1 in place of
// 0, since 0 is what the reader reports for a missing file and a stored 0
// would leave that file unwritten for ever.
constexpr uint32_t stored_checksum(uint32_t crc) { return crc == 0 ? 1 : crc; }

// Little-endian integers of `count` bytes (at most 8).
constexpr uint64_t get_le(const unsigned char* bytes, size_t count) {
    uint64_t value = 0;
    for (size_t i = count; i > 0; --i) value = value << 8 | bytes[i - 1];
    return value;
}
constexpr void put_le(unsigned char* out, uint64_t value, size_t count) {
    for (size_t i = 0; i < count; ++i) out[i] = static_cast<unsigned char>(value >> (8 * i));
}
