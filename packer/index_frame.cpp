#include "index_frame.h"

#include <zlib.h>

#include "payload/block_index.h"

namespace {

void put_le(std::vector<unsigned char>* out, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out->push_back(static_cast<unsigned char>(value >> (8 * i)));
}

}  // namespace

std::vector<unsigned char> index_frame(const std::vector<IndexedFrame>& frames,
                                       const std::vector<IndexedEntry>& entries) {
    std::vector<unsigned char> out;
    put_le(&out, index_frame_magic, 4);
    put_le(&out, 0, 4);   // the length, once known
    out.insert(out.end(), index_magic, index_magic + sizeof index_magic);
    put_le(&out, index_version, 4);
    put_le(&out, frames.size(), 4);
    put_le(&out, entries.size(), 4);
    for (const IndexedFrame& frame : frames) {
        put_le(&out, frame.block_offset, 8);
        put_le(&out, frame.compressed_size, 8);
        put_le(&out, frame.content_size, 8);
    }
    for (const IndexedEntry& entry : entries) {
        put_le(&out, entry.frame, 4);
        put_le(&out, entry.offset, 8);
        put_le(&out, entry.size, 8);
        put_le(&out, entry.checksum, 4);
        put_le(&out, entry.name.size(), 2);
        for (char16_t unit : entry.name) put_le(&out, unit, 2);
    }
    const unsigned char* content = out.data() + index_frame_header_size;
    uLong crc = crc32_z(0, content, out.size() - index_frame_header_size);
    put_le(&out, crc, 4);
    uint64_t length = out.size() - index_frame_header_size;
    for (int i = 0; i < 4; ++i) out[4 + i] = static_cast<unsigned char>(length >> (8 * i));
    return out;
}
