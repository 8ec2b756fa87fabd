// Little-endian integers in byte strings: how every file format the packer
// reads or writes (the block, COFF objects, ICO files) stores them. The
// byte order itself is the block format's get_le and put_le.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "payload/block_format.h"

inline uint16_t le16(const std::string& bytes, size_t at) {
    return static_cast<uint16_t>(get_le(reinterpret_cast<const unsigned char*>(bytes.data()) + at, 2));
}

inline uint32_t le32(const std::string& bytes, size_t at) {
    return static_cast<uint32_t>(get_le(reinterpret_cast<const unsigned char*>(bytes.data()) + at, 4));
}

// Overwrites the 4 bytes at `at`.
inline void set_le32(std::string* bytes, size_t at, uint32_t value) {
    put_le(reinterpret_cast<unsigned char*>(&(*bytes)[at]), value, 4);
}

// Appends the low `count` bytes of `value`.
inline void append_le(std::string* out, uint64_t value, size_t count) {
    unsigned char bytes[8];
    put_le(bytes, value, count);
    out->append(reinterpret_cast<const char*>(bytes), count);
}
