// Whether an entry is already on disk: the file's CRC-32 against the stored
// one. Files are read through a buffer of the caller's, a piece at a time
// (checksum_buffer_size, launcher/state.h), so several threads can check
// files at once and a large file never sits in memory whole.
#pragma once

#include <cstdint>

// CRC-32 of the file, 1 when that is 0; 0 when missing, empty or unreadable.
uint32_t file_checksum(const char16_t* path, unsigned char* buffer);

// True when the file at `path` holds an entry of `size` bytes with the
// stored checksum.
bool file_in_place(const char16_t* path, uint32_t stored, uint64_t size, unsigned char* buffer);
