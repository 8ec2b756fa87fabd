#include "pack_summary.h"

#include <cstdio>

std::string grouped(uint64_t number) {
    std::string digits = std::to_string(number);
    for (size_t at = digits.size(); at > 3; at -= 3) digits.insert(at - 3, ",");
    return digits;
}

std::string fixed(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", value);
    return text;
}

double ratio(uint64_t bytes_in, uint64_t block_bytes) {
    return block_bytes == 0 ? 0.0 : static_cast<double>(bytes_in) / block_bytes;
}

std::string file_count(uint64_t files) { return grouped(files) + (files == 1 ? " file" : " files"); }

std::string summary_line(const PackSummary& summary, double seconds) {
    return "packed " + file_count(summary.files) + ", " + grouped(summary.bytes_in) + " bytes, into a block of " +
           grouped(summary.block_bytes) + " bytes (ratio " + fixed(ratio(summary.bytes_in, summary.block_bytes)) +
           ") in " + fixed(seconds) + " s";
}
