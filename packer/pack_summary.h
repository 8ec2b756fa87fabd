// The one line that ends a pack or a build on standard error: what went in,
// the block it became, and how long it took.
#pragma once

#include <cstdint>
#include <string>

struct PackSummary {
    uint64_t files = 0;
    uint64_t bytes_in = 0;      // the files' data
    uint64_t block_bytes = 0;   // the whole block: magic, frames, padding, trailer
};

// "packed 3 files, 1,234,567 bytes, into a block of 456,789 bytes (ratio
// 2.70) in 1.25 s", the ratio being bytes in over block bytes.
std::string summary_line(const PackSummary& summary, double seconds);

// Digits in groups of three ("1,234,567"), so that sizes read at a glance.
std::string grouped(uint64_t number);
// Two decimals ("2.70").
std::string fixed(double value);
// Bytes in over block bytes, 0 for an empty block.
double ratio(uint64_t bytes_in, uint64_t block_bytes);
// "3 files" or "1 file".
std::string file_count(uint64_t files);
