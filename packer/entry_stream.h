// The entry stream inside the frame: per file its UTF-16LE name with a
// terminating 0 unit, u64 LE size, u32 LE checksum, then the data; after the
// last file a single 0 unit (an empty name) ends the stream.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

std::vector<unsigned char> entry_header(const std::u16string& name, uint64_t size, uint32_t checksum);

std::vector<unsigned char> end_marker();

// How many bytes of the stream one entry takes: name, terminator, header, data.
uint64_t entry_record_size(const std::u16string& name, uint64_t size);
