#include "resource_coff.h"

#include <cstring>

#include "little_endian.h"

namespace {

struct Section {
    size_t start;
    size_t size;
};

// Walks one directory of the tree (type, name, language: three levels) and
// patches the data entries below it. Offsets are relative to the section.
bool patch_directory(std::string* object, const Section& rsrc, size_t directory, int level, uint32_t code_page,
                     int* patched) {
    if (level > 3 || directory > rsrc.size || rsrc.size - directory < 16) return false;
    const size_t base = rsrc.start + directory;
    const size_t count = le16(*object, base + 12) + le16(*object, base + 14);
    if ((rsrc.size - directory - 16) / 8 < count) return false;
    for (size_t i = 0; i < count; ++i) {
        const uint32_t target = le32(*object, base + 16 + 8 * i + 4);
        if (target & 0x80000000u) {
            if (!patch_directory(object, rsrc, target & 0x7FFFFFFFu, level + 1, code_page, patched)) return false;
        } else {
            if (level != 3 || target > rsrc.size || rsrc.size - target < 16) return false;
            set_le32(object, rsrc.start + target + 8, code_page);
            ++*patched;
        }
    }
    return true;
}

}  // namespace

bool set_resource_code_page(std::string* object, uint32_t code_page, std::string* reason) {
    const std::string& o = *object;
    if (o.size() < 20) {
        *reason = "the resource object is too short";
        return false;
    }
    const size_t sections = le16(o, 2);
    const size_t table = 20 + le16(o, 16);   // after the optional header, empty in an object
    for (size_t i = 0; i < sections; ++i) {
        const size_t header = table + 40 * i;
        if (header + 40 > o.size()) break;
        if (std::memcmp(o.data() + header, ".rsrc\0\0\0", 8) != 0) continue;
        const Section rsrc{le32(o, header + 20), le32(o, header + 16)};
        int patched = 0;
        if (rsrc.start > o.size() || rsrc.size > o.size() - rsrc.start ||
            !patch_directory(object, rsrc, 0, 1, code_page, &patched) || patched == 0) {
            *reason = "the resource object's .rsrc section is not a resource tree";
            return false;
        }
        return true;
    }
    *reason = "the resource object has no .rsrc section";
    return false;
}
