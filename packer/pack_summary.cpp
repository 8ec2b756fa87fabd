#include "pack_summary.h"

#include <cstdio>

namespace {

// Digits in groups of three, so that sizes can be read at a glance.
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

}  // namespace

std::string summary_line(const PackSummary& summary, double seconds) {
    const double ratio = summary.block_bytes == 0 ? 0.0 : static_cast<double>(summary.bytes_in) / summary.block_bytes;
    return "packed " + grouped(summary.files) + (summary.files == 1 ? " file, " : " files, ") +
           grouped(summary.bytes_in) + " bytes, into a block of " + grouped(summary.block_bytes) + " bytes (ratio " +
           fixed(ratio) + ") in " + fixed(seconds) + " s";
}
