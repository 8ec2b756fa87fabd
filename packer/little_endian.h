// Little-endian integers in byte strings: how every file format the packer
// reads or writes (the block, COFF objects, ICO files) stores them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

inline uint16_t le16(const std::string& bytes, size_t at) {
    return static_cast<uint16_t>(static_cast<unsigned char>(bytes[at]) |
                                 static_cast<unsigned char>(bytes[at + 1]) << 8);
}

inline uint32_t le32(const std::string& bytes, size_t at) {
    return static_cast<uint32_t>(le16(bytes, at)) | static_cast<uint32_t>(le16(bytes, at + 2)) << 16;
}

// Overwrites the 4 bytes at `at`.
inline void set_le32(std::string* bytes, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) (*bytes)[at + i] = static_cast<char>(value >> (8 * i) & 0xFF);
}

// Appends the low `count` bytes of `value`, to a std::string or a byte vector.
template <typename Bytes>
void append_le(Bytes* out, uint64_t value, int count) {
    for (int i = 0; i < count; ++i) out->push_back(static_cast<typename Bytes::value_type>(value >> (8 * i) & 0xFF));
}
