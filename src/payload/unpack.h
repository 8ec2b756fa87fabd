// Turning entries into files below the target directory, reusing files that
// are already there with the stored checksum.
#pragma once

#include <cstdint>

void unpack_entries();

// CRC-32 of the file, 1 when that is 0; 0 when missing, empty or unreadable.
uint32_t existing_file_checksum(const char16_t* path);

void make_parent_dirs(const char16_t* file_path);
bool make_dir(const char16_t* dir);
