// zembra list APP [--json]: every entry, the main program first and
// marked, then what they add up to.
#include <cstdio>

#include "inspect_commands.h"
#include "opened_app.h"
#include "pack_summary.h"
#include "text_display.h"
#include "utf8.h"

namespace {

std::string hex32(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%08x", value);
    return text;
}

std::string totals(const WalkSummary& summary, uint64_t block_size) {
    return file_count(summary.files) + ", " + grouped(summary.bytes) + " bytes, in a block of " + grouped(block_size) +
           " bytes (ratio " + fixed(ratio(summary.bytes, block_size)) + ")";
}

void print_text(const OpenedApp& app, const std::vector<WalkedEntry>& entries, const WalkSummary& summary) {
    size_t width = 4;
    for (const WalkedEntry& entry : entries) width = std::max(width, grouped(entry.size).size());
    std::printf("%*s  %-8s  name\n", static_cast<int>(width), "size", "crc-32");
    for (const WalkedEntry& entry : entries) {
        std::printf("%*s  %s  %s%s\n", static_cast<int>(width), grouped(entry.size).c_str(), hex32(entry.stored).c_str(),
                    display_name(entry.name).c_str(), entry.number == 0 ? "  (main program)" : "");
    }
    std::printf("%s: %s\n", image_description(app.image).c_str(), totals(summary, app.image.block_size).c_str());
}

void print_json(const OpenedApp& app, const std::vector<WalkedEntry>& entries, const WalkSummary& summary) {
    std::printf("{\n  \"app\": %s,\n  \"kind\": %s,\n  \"layout\": %s,\n  \"block_offset\": %llu,\n"
                "  \"block_bytes\": %llu,\n"
                "  \"files\": %llu,\n  \"bytes\": %llu,\n  \"entries\": [",
                json_string(printable(app.path)).c_str(), json_string(image_kind_name(app.image.kind)).c_str(),
                json_string(layout_name(app.shape.layout)).c_str(),
                static_cast<unsigned long long>(app.image.block_offset),
                static_cast<unsigned long long>(app.image.block_size), static_cast<unsigned long long>(summary.files),
                static_cast<unsigned long long>(summary.bytes));
    for (size_t i = 0; i < entries.size(); ++i) {
        const WalkedEntry& entry = entries[i];
        std::printf("%s\n    {\"name\": %s, \"size\": %llu, \"crc32\": \"%s\", \"main\": %s}", i == 0 ? "" : ",",
                    json_name(entry.name).c_str(), static_cast<unsigned long long>(entry.size),
                    hex32(entry.stored).c_str(), entry.number == 0 ? "true" : "false");
    }
    std::printf("%s]\n}\n", entries.empty() ? "" : "\n  ");
}

}  // namespace

int run_list(const CommandLine& line) {
    OpenedApp app;
    std::string error;
    std::vector<WalkedEntry> entries;
    WalkSummary summary;
    if (!open_app(line.input, &app, &error) || !list_entries(app, &entries, &summary, &error))
        return inspect_failure(error);
    if (line.json) {
        print_json(app, entries, summary);
    } else {
        print_text(app, entries, summary);
    }
    return 0;
}
