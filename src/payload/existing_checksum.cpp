#include <zlib.h>

#include "payload/block_format.h"
#include "payload/unpack.h"
#include "platform/platform.h"

uint32_t existing_file_checksum(const char16_t* path) {
    FileView view;
    if (!os_map_file(path, &view)) return 0;
    // The whole file, in pieces that fit zlib's length type: a size cut to 32
    // bits would checksum only part of a file of 4 GiB or more. Each piece is
    // handed back once checksummed, so a large file never sits in memory
    // whole.
    constexpr uint64_t max_piece = 1u << 20;
    uLong crc = crc32(0, Z_NULL, 0);
    const unsigned char* data = view.data;
    for (uint64_t left = view.size; left > 0;) {
        uInt piece = static_cast<uInt>(left < max_piece ? left : max_piece);
        crc = crc32(crc, data, piece);
        os_release_pages(data, piece);
        data += piece;
        left -= piece;
    }
    os_unmap_file(&view);
    // 0 stands for "no usable file"; a real CRC of 0 is reported as 1, as the
    // packer stores it.
    return stored_checksum(static_cast<uint32_t>(crc));
}
