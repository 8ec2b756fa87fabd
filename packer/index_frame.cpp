#include "index_frame.h"

#include <zlib.h>

#include "payload/block_format.h"
#include "payload/block_index.h"

namespace {

void append_le(std::vector<unsigned char>* out, uint64_t value, size_t bytes) {
    out->resize(out->size() + bytes);
    put_le(out->data() + out->size() - bytes, value, bytes);
}

}  // namespace

std::vector<unsigned char> index_frame(const std::vector<IndexedFrame>& frames,
                                       const std::vector<IndexedEntry>& entries) {
    std::vector<unsigned char> out;
    append_le(&out, index_frame_magic, 4);
    append_le(&out, 0, 4);   // the length, once known
    out.insert(out.end(), index_magic, index_magic + sizeof index_magic);
    append_le(&out, index_version, 4);
    append_le(&out, frames.size(), 4);
    append_le(&out, entries.size(), 4);
    for (const IndexedFrame& frame : frames) {
        append_le(&out, frame.block_offset, 8);
        append_le(&out, frame.compressed_size, 8);
        append_le(&out, frame.content_size, 8);
    }
    for (const IndexedEntry& entry : entries) {
        append_le(&out, entry.frame, 4);
        append_le(&out, entry.offset, 8);
        append_le(&out, entry.size, 8);
        append_le(&out, entry.checksum, 4);
        append_le(&out, entry.name.size(), 2);
        for (char16_t unit : entry.name) append_le(&out, unit, name_unit_bytes);
    }
    const unsigned char* content = out.data() + index_frame_header_size;
    uLong crc = crc32_z(0, content, out.size() - index_frame_header_size);
    append_le(&out, crc, 4);
    put_le(out.data() + 4, out.size() - index_frame_header_size, 4);
    return out;
}
