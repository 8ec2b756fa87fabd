// Little-endian fields of the images the packer reads and writes, over byte
// strings. Readers expect the caller to have checked the bounds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

inline uint64_t get_le(const std::string& bytes, size_t at, int size) {
    uint64_t value = 0;
    for (int i = size - 1; i >= 0; --i) value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
    return value;
}
inline uint16_t get_le16(const std::string& bytes, size_t at) { return static_cast<uint16_t>(get_le(bytes, at, 2)); }
inline uint32_t get_le32(const std::string& bytes, size_t at) { return static_cast<uint32_t>(get_le(bytes, at, 4)); }
inline uint64_t get_le64(const std::string& bytes, size_t at) { return get_le(bytes, at, 8); }

inline void set_le(std::string* bytes, size_t at, uint64_t value, int size) {
    for (int i = 0; i < size; ++i) (*bytes)[at + i] = static_cast<char>(value >> (8 * i) & 0xFF);
}

inline void append_le(std::string* bytes, uint64_t value, int size) {
    for (int i = 0; i < size; ++i) bytes->push_back(static_cast<char>(value >> (8 * i) & 0xFF));
}

// `value` rounded up to a multiple of `alignment`, a power of two.
inline uint64_t align_up(uint64_t value, uint64_t alignment) { return (value + alignment - 1) & ~(alignment - 1); }
