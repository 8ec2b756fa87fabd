// Little-endian integers in byte strings: how every file format the packer
// reads or writes (the block, PE and ELF images, ICO files) stores them. The
// byte order itself is the block format's get_le and put_le. Readers expect
// the caller to have checked the bounds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "payload/block_format.h"

inline uint64_t get_le(const std::string& bytes, size_t at, size_t size) {
    return get_le(reinterpret_cast<const unsigned char*>(bytes.data()) + at, size);
}
inline uint16_t get_le16(const std::string& bytes, size_t at) { return static_cast<uint16_t>(get_le(bytes, at, 2)); }
inline uint32_t get_le32(const std::string& bytes, size_t at) { return static_cast<uint32_t>(get_le(bytes, at, 4)); }
inline uint64_t get_le64(const std::string& bytes, size_t at) { return get_le(bytes, at, 8); }

// Overwrites the `size` bytes at `at`.
inline void set_le(std::string* bytes, size_t at, uint64_t value, size_t size) {
    put_le(reinterpret_cast<unsigned char*>(&(*bytes)[at]), value, size);
}

// Appends the low `size` bytes of `value`.
inline void append_le(std::string* bytes, uint64_t value, size_t size) {
    unsigned char out[8];
    put_le(out, value, size);
    bytes->append(reinterpret_cast<const char*>(out), size);
}

// `value` rounded up to a multiple of `alignment`, a power of two.
inline uint64_t align_up(uint64_t value, uint64_t alignment) { return (value + alignment - 1) & ~(alignment - 1); }
