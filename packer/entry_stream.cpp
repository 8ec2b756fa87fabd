#include "entry_stream.h"

#include "little_endian.h"

std::vector<unsigned char> entry_header(const std::u16string& name, uint64_t size, uint32_t checksum) {
    std::vector<unsigned char> out;
    out.reserve(2 * name.size() + 14);
    for (char16_t unit : name) append_le(&out, unit, 2);
    append_le(&out, 0, 2);
    append_le(&out, size, 8);
    append_le(&out, checksum, 4);
    return out;
}

std::vector<unsigned char> end_marker() { return {0, 0}; }
