#include "pe_resources.h"

#include <algorithm>

#include "little_endian.h"

namespace {

const uint32_t subdirectory_bit = 0x80000000u;
const size_t directory_size = 16, entry_size = 8, data_entry_size = 16;

// A directory header (characteristics, time stamp, version: all 0) with
// `count` entries named by identifiers.
void append_directory(std::string* out, size_t count) {
    out->append(12, '\0');
    append_le(out, 0, 2);       // named entries
    append_le(out, count, 2);   // identified entries
}

void append_entry(std::string* out, uint32_t id, uint32_t target) {
    append_le(out, id, 4);
    append_le(out, target, 4);
}

}  // namespace

std::string resource_section(std::vector<Resource> resources, uint32_t section_rva, uint32_t code_page) {
    // The loader looks entries up by binary search: each level is sorted.
    std::stable_sort(resources.begin(), resources.end(), [](const Resource& a, const Resource& b) {
        return a.type != b.type ? a.type < b.type : a.id < b.id;
    });
    std::vector<uint16_t> types;
    for (const Resource& r : resources)
        if (types.empty() || types.back() != r.type) types.push_back(r.type);

    // Layout: the root, one directory per type, one language directory per
    // resource, the data entries, then the data on 8-byte boundaries.
    const size_t n = resources.size();
    const size_t type_dirs = directory_size + entry_size * types.size();
    size_t at = type_dirs;
    std::vector<size_t> type_dir_at;
    for (uint16_t type : types) {
        type_dir_at.push_back(at);
        at += directory_size + entry_size * std::count_if(resources.begin(), resources.end(),
                                                          [type](const Resource& r) { return r.type == type; });
    }
    const size_t language_dirs_at = at;
    const size_t data_entries_at = language_dirs_at + n * (directory_size + entry_size);
    std::vector<size_t> data_at;
    at = data_entries_at + n * data_entry_size;
    for (const Resource& r : resources) {
        at = align_up(at, 8);
        data_at.push_back(at);
        at += r.data.size();
    }

    std::string out;
    append_directory(&out, types.size());
    for (size_t t = 0; t < types.size(); ++t) append_entry(&out, types[t], subdirectory_bit | type_dir_at[t]);
    for (size_t t = 0, i = 0; t < types.size(); ++t) {
        size_t first = i;
        while (i < n && resources[i].type == types[t]) ++i;
        append_directory(&out, i - first);
        for (size_t k = first; k < i; ++k)
            append_entry(&out, resources[k].id,
                         subdirectory_bit | (language_dirs_at + k * (directory_size + entry_size)));
    }
    for (size_t k = 0; k < n; ++k) {
        append_directory(&out, 1);
        append_entry(&out, 0, data_entries_at + k * data_entry_size);   // language 0, neutral
    }
    for (size_t k = 0; k < n; ++k) {
        append_le(&out, section_rva + data_at[k], 4);
        append_le(&out, resources[k].data.size(), 4);
        append_le(&out, code_page, 4);
        append_le(&out, 0, 4);
    }
    for (size_t k = 0; k < n; ++k) {
        out.resize(data_at[k], '\0');
        out += resources[k].data;
    }
    return out;
}
