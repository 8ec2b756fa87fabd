#include "entry_stream.h"

namespace {

void put_le(std::vector<unsigned char>* out, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out->push_back(static_cast<unsigned char>(value >> (8 * i)));
}

}  // namespace

std::vector<unsigned char> entry_header(const std::u16string& name, uint64_t size, uint32_t checksum) {
    std::vector<unsigned char> out;
    out.reserve(2 * name.size() + 14);
    for (char16_t unit : name) put_le(&out, unit, 2);
    put_le(&out, 0, 2);
    put_le(&out, size, 8);
    put_le(&out, checksum, 4);
    return out;
}

std::vector<unsigned char> end_marker() { return {0, 0}; }

uint64_t entry_record_size(const std::u16string& name, uint64_t size) { return 2 * (name.size() + 1) + 12 + size; }
