// Turning entries into files below the target directory, reusing files that
// are already there with the stored checksum.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

void unpack_entries();

// CRC-32 of the file, 1 when that is 0; 0 when missing, empty or unreadable.
uint32_t existing_file_checksum(const char16_t* path);

// out = target_dir, one separator, the name's `name_length` units with their
// backslashes turned into the system's separator. Stops the launcher without
// a message when that would not fit a PathBuffer.
void join_entry_path(char16_t* out, const char16_t* name, size_t name_length);

// One write of entry data; stops the launcher when it fails or falls short.
void write_entry_piece(FileHandle file, const void* data, uint32_t size);

void make_parent_dirs(const char16_t* file_path);
bool make_dir(const char16_t* dir);
