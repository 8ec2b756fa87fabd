// The entry stream inside the frame (payload/block_format.h): per file a
// header, then the data; after the last file the end marker.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The name with its terminator, the size and the stored checksum.
std::vector<unsigned char> entry_header(const std::u16string& name, uint64_t size, uint32_t checksum);

std::vector<unsigned char> end_marker();
