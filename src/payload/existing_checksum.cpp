#include "launcher/state.h"
#include "payload/block_format.h"
#include "payload/crc32.h"
#include "payload/in_place.h"
#include "payload/unpack.h"
#include "platform/platform.h"

// Read into a buffer rather than mapped: reading costs a copy from the
// system's cache, while a mapping costs a page fault for every page of every
// file, and those dominate the check of a warm start. The file is read to
// its end, so a size of 4 GiB or more is covered whole.
uint32_t file_checksum(const char16_t* path, unsigned char* buffer) {
    ReadHandle file = os_open_for_read(path);
    if (file == nullptr) return 0;
    uint32_t crc = 0;
    uint64_t total = 0;
    for (;;) {
        uint32_t got = 0;
        if (!os_read_file(file, buffer, checksum_buffer_size, &got)) {
            os_close_read(file);
            return 0;
        }
        if (got == 0) break;
        crc = crc32_continue(crc, buffer, got);
        total += got;
    }
    os_close_read(file);
    // 0 stands for "no usable file"; a real CRC of 0 is reported as 1, as the
    // packer stores it.
    if (total == 0) return 0;
    return stored_checksum(crc);
}

uint32_t existing_file_checksum(const char16_t* path) { return file_checksum(path, launcher.checksum_buffers[0]); }

// A stored 0 would equal the checksum of a missing file, so it never counts
// as a match: the entry is written rather than silently left out. An empty
// file has no checksum to compare (it reads as missing): one that is there
// is in place, and rewriting it at every start would fail while a running
// program holds it.
bool file_in_place(const char16_t* path, uint32_t stored, uint64_t size, unsigned char* buffer) {
    uint64_t found = 0;
    if (size == 0) return os_file_size(path, &found) && found == 0;
    return stored != 0 && file_checksum(path, buffer) == stored;
}
