#include "entry_stream.h"

#include "payload/block_format.h"

std::vector<unsigned char> entry_header(const std::u16string& name, uint64_t size, uint32_t checksum) {
    std::vector<unsigned char> out(entry_header_bytes(name.size()));
    unsigned char* at = out.data();
    for (char16_t unit : name) {
        put_le(at, unit, name_unit_bytes);
        at += name_unit_bytes;
    }
    at += name_unit_bytes;   // the terminating 0 unit
    put_le(at, size, entry_size_bytes);
    put_le(at + entry_size_bytes, checksum, entry_checksum_bytes);
    return out;
}

std::vector<unsigned char> end_marker() { return std::vector<unsigned char>(end_marker_bytes, 0); }
