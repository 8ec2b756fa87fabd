#include "image_reader.h"

#include <cstring>
#include <functional>
#include <vector>

#include "image_plan.h"
#include "launcher/image_descriptor.h"
#include "little_endian.h"
#include "payload/block_format.h"
#include "text_display.h"
#include "utf8.h"

namespace {

// Headers are read from the first bytes only; a launcher's fit in 4096.
const uint64_t head_limit = 64 << 10;
// Sections read whole to be looked into; a launcher's are far smaller.
const uint64_t descriptor_section_limit = 1 << 20;
const uint64_t resource_section_limit = 64 << 20;
const uint64_t required_file_alignment = 4096;
const size_t magic_size = sizeof empty_image_descriptor.magic;

std::string number(uint64_t value) { return std::to_string(value); }

std::string hex(uint64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
    return text;
}

bool fail(std::string* error, const std::string& reason) {
    *error = reason;
    return false;
}

// `what` should end at `end`, which lies past the end of the file.
bool cut_short(std::string* error, const std::string& what, uint64_t end, uint64_t file_size) {
    return fail(error, what + " ends at file byte " + number(end) + ", past the end of the file at byte " +
                           number(file_size) + ": the file is cut short or damaged");
}

// Where a range given as an offset from the image's first mapped byte lies
// in the file; false when no mapped part of the file holds all of it.
using PlaceInFile = std::function<bool(uint64_t offset, uint64_t length, uint64_t* file_at)>;

// The descriptor in `section` (the bytes of the descriptor's section): every
// place it gives.
bool read_descriptor(const std::string& section, const char* image, BuiltinPlace places[5], std::string* error) {
    for (size_t i = 0; i + sizeof(ImageDescriptor) <= section.size(); i += 8) {
        if (std::memcmp(section.data() + i, empty_image_descriptor.magic, magic_size) != 0) continue;
        bool empty = true;
        for (size_t j = magic_size; j < sizeof(ImageDescriptor); ++j) empty = empty && section[i + j] == 0;
        if (empty) {
            return fail(error, std::string("it is a ") + image + " launcher stub: nothing is attached to it");
        }
        for (size_t p = 0; p < 5; ++p) {
            places[p].offset = get_le64(section, i + magic_size + 16 * p);
            places[p].length = get_le64(section, i + magic_size + 16 * p + 8);
        }
        return true;
    }
    return fail(error, std::string("its ") + image_descriptor_section + " section holds no descriptor");
}

// Reads the block's place and the texts the descriptor gives.
bool read_builtins(const ImageBytes& bytes, const BuiltinPlace places[5], const PlaceInFile& place_in_file,
                   ImageContents* contents, std::string* error) {
    if (!place_in_file(places[0].offset, places[0].length, &contents->block_offset)) {
        return fail(error, "its descriptor puts the attached data (" + number(places[0].length) + " bytes at " +
                               hex(places[0].offset) + ") outside the file's mapped data");
    }
    contents->block_size = places[0].length;
    const struct {
        const char* name;
        std::string* text;
    } texts[] = {{"unpack spec", &contents->unpack_spec},
                 {"company", &contents->company},
                 {"product", &contents->product},
                 {"version", &contents->version}};
    for (size_t t = 0; t < 4; ++t) {
        const BuiltinPlace& place = places[t + 1];
        const std::string what = std::string("its built-in ") + texts[t].name + " text";
        uint64_t at = 0;
        if (place.length >= (uint64_t(1) << 32) || !place_in_file(place.offset, 2 * place.length + 2, &at)) {
            return fail(error, what + " lies outside the file's mapped data");
        }
        std::string raw;
        if (!bytes.read(at, 2 * place.length + 2, &raw, error)) return false;
        std::u16string units;
        for (uint64_t u = 0; u < place.length; ++u) units.push_back(get_le16(raw, 2 * u));
        if (get_le16(raw, 2 * place.length) != 0) return fail(error, what + " has no terminating 0");
        // A launcher reads the text up to its first 0: one inside would make
        // it use less of the text than is shown here.
        if (units.find(u'\0') != std::u16string::npos) return fail(error, what + " holds a 0 before its end");
        if (!utf16_to_utf8(units, texts[t].text)) return fail(error, what + " is not valid UTF-16");
    }
    return true;
}

// --- Windows --------------------------------------------------------------

enum { resource_directory = 2 };
enum : uint32_t { rt_version = 16, subdirectory_bit = 0x80000000u };

struct PeSection {
    std::string name;
    uint64_t virtual_size, rva, raw_size, raw_at;
    // The bytes mapped from the file: the raw data, but no further than
    // the section's size in memory.
    uint64_t mapped() const { return virtual_size == 0 ? raw_size : std::min(raw_size, virtual_size); }
};

// The resource tree, walked with every offset checked; finds the version
// block on the way.
struct ResourceWalk {
    const std::string& data;   // the section holding the tree
    uint64_t section_rva;
    size_t visited = 0;
    uint64_t version_rva = 0, version_size = 0;
    std::string* error;

    bool directory(size_t at, int level, bool under_version) {
        if (at + 16 > data.size()) return fail(error, "its resource tree points outside its section");
        const size_t count = size_t(get_le16(data, at + 12)) + get_le16(data, at + 14);
        if (at + 16 + 8 * count > data.size()) return fail(error, "its resource tree points outside its section");
        for (size_t i = 0; i < count; ++i) {
            if (++visited > 65536) return fail(error, "its resource tree has too many entries");
            const size_t entry = at + 16 + 8 * i;
            const uint32_t name = get_le32(data, entry), target = get_le32(data, entry + 4);
            const bool version = level == 0 ? (name == rt_version) : under_version;
            if (name & subdirectory_bit) {
                const size_t text = name & ~subdirectory_bit;
                if (text + 2 > data.size() || text + 2 + 2 * size_t(get_le16(data, text)) > data.size())
                    return fail(error, "a resource name lies outside its section");
            }
            const bool subdirectory = (target & subdirectory_bit) != 0;
            if (subdirectory != (level < 2)) return fail(error, "its resource tree is not three levels deep");
            if (subdirectory) {
                if (!directory(target & ~subdirectory_bit, level + 1, version)) return false;
            } else if (!leaf(target, version)) {
                return false;
            }
        }
        return true;
    }

    bool leaf(size_t at, bool version) {
        if (at + 16 > data.size()) return fail(error, "a resource entry lies outside its section");
        const uint64_t rva = get_le32(data, at), size = get_le32(data, at + 4);
        if (rva < section_rva || rva - section_rva > data.size() || size > data.size() - (rva - section_rva))
            return fail(error, "a resource's data lies outside its section");
        if (version && version_size == 0) {
            version_rva = rva;
            version_size = size;
        }
        return true;
    }
};

bool read_windows(const ImageBytes& bytes, ImageContents* contents, std::string* error) {
    const uint64_t file_size = bytes.size();
    std::string h;
    if (!bytes.read(0, std::min(file_size, head_limit), &h, error)) return false;
    const std::string not_ours = "it starts with MZ but is not a Windows x86-64 program";
    if (h.size() < 64) return fail(error, "it is cut short inside its headers");
    const uint64_t pe = get_le32(h, 0x3C);
    if (pe + 24 > h.size() || h.compare(pe, 4, std::string("PE\0\0", 4)) != 0) return fail(error, not_ours);
    const size_t coff = pe + 4, optional = pe + 24;
    const size_t optional_size = get_le16(h, coff + 16);
    if (optional + optional_size > h.size()) return fail(error, "its optional header is cut off");
    if (get_le16(h, coff) != 0x8664 || optional_size < 112 || get_le16(h, optional) != 0x20B)
        return fail(error, not_ours);
    const uint64_t directory_count = get_le32(h, optional + 108);
    if (directory_count <= resource_directory || 112 + 8 * directory_count > optional_size)
        return fail(error, "its data directory is too short");
    const uint64_t section_alignment = get_le32(h, optional + 32);
    const uint64_t file_alignment = get_le32(h, optional + 36);
    if (file_alignment != required_file_alignment || section_alignment < file_alignment ||
        (section_alignment & (section_alignment - 1)) != 0)
        return fail(error, "its sections are not aligned to 4096 bytes, so its data would not be mapped in place");
    const size_t table = optional + optional_size, section_count = get_le16(h, coff + 2);
    if (section_count == 0 || table + 40 * section_count > h.size())
        return fail(error, "its section table is cut off");

    std::vector<PeSection> sections;
    uint64_t image_end = 0;
    for (size_t i = 0; i < section_count; ++i) {
        const size_t at = table + 40 * i;
        const char* name = h.data() + at;
        // The name is the file's bytes: kept escaped, as it is only ever shown.
        sections.push_back({printable(std::string(name, strnlen(name, 8))), get_le32(h, at + 8), get_le32(h, at + 12),
                            get_le32(h, at + 16), get_le32(h, at + 20)});
        const PeSection& s = sections.back();
        if (s.raw_at + s.raw_size > file_size)
            return cut_short(error, "its section " + s.name, s.raw_at + s.raw_size, file_size);
        if (s.rva < image_end) return fail(error, "its sections " + sections[i - 1].name + " and " + s.name + " overlap");
        image_end = align_up(s.rva + (s.virtual_size != 0 ? s.virtual_size : s.raw_size), section_alignment);
    }
    const uint64_t size_of_image = get_le32(h, optional + 56);
    if (size_of_image != image_end)
        return fail(error, "its SizeOfImage is " + hex(size_of_image) + ", where its sections end at " + hex(image_end));

    const PeSection* descriptor = nullptr;
    for (const PeSection& s : sections)
        if (s.name == image_descriptor_section) descriptor = &s;
    if (descriptor == nullptr) {
        return fail(error, std::string("it is a Windows program, but not a zembra launcher: it has no ") +
                               image_descriptor_section + " section");
    }
    std::string descriptor_bytes;
    if (!bytes.read(descriptor->raw_at, std::min(descriptor->raw_size, descriptor_section_limit), &descriptor_bytes,
                    error))
        return false;
    BuiltinPlace places[5];
    if (!read_descriptor(descriptor_bytes, "Windows", places, error)) return false;
    const PlaceInFile place_in_file = [&](uint64_t rva, uint64_t length, uint64_t* file_at) {
        for (const PeSection& s : sections) {
            if (rva >= s.rva && rva - s.rva <= s.mapped() && length <= s.mapped() - (rva - s.rva)) {
                *file_at = s.raw_at + (rva - s.rva);
                return true;
            }
        }
        return false;
    };
    if (!read_builtins(bytes, places, place_in_file, contents, error)) return false;

    const uint64_t resources_rva = get_le32(h, optional + 112 + 8 * resource_directory);
    const uint64_t resources_size = get_le32(h, optional + 112 + 8 * resource_directory + 4);
    const PeSection* rsrc = nullptr;
    for (const PeSection& s : sections)
        if (resources_size != 0 && resources_rva >= s.rva && resources_rva - s.rva < s.mapped()) rsrc = &s;
    if (rsrc == nullptr) return fail(error, "it has no resources, where a launcher has its version block and icons");
    if (resources_rva - rsrc->rva + resources_size > rsrc->mapped())
        return fail(error, "its resource directory runs past the end of its section");
    std::string resources;
    if (rsrc->mapped() > resource_section_limit) return fail(error, "its resource section is too big to be a launcher's");
    if (!bytes.read(rsrc->raw_at, rsrc->mapped(), &resources, error)) return false;
    ResourceWalk walk{resources, rsrc->rva, 0, 0, 0, error};
    if (!walk.directory(resources_rva - rsrc->rva, 0, false)) return false;
    if (walk.version_size == 0) return fail(error, "it has no version block among its resources");
    const std::string block = resources.substr(walk.version_rva - rsrc->rva, walk.version_size);
    if (!read_version_strings(block, &contents->version_strings, error)) return false;

    contents->kind = ImageKind::windows_launcher;
    contents->checksum_at = optional + 64;
    contents->stored_checksum = get_le32(h, optional + 64);
    return true;
}

// --- Linux ----------------------------------------------------------------

enum : uint32_t { pt_load = 1 };

struct LoadSegment {
    uint64_t offset, vaddr, filesz;
};

bool read_linux(const ImageBytes& bytes, ImageContents* contents, std::string* error) {
    const uint64_t file_size = bytes.size();
    std::string h;
    if (!bytes.read(0, std::min<uint64_t>(file_size, 64), &h, error)) return false;
    if (h.size() < 64) return fail(error, "it is cut short inside its ELF header");
    if (h[4] != 2 || h[5] != 1 || get_le16(h, 0x12) != 62)
        return fail(error, "it is an ELF file, but not an x86-64 program");
    const uint64_t ph_at = get_le64(h, 0x20), ph_count = get_le16(h, 0x38);
    if (get_le16(h, 0x36) != 56) return fail(error, "its program headers are not of the 64-bit size");
    if (!bytes.holds(ph_at, 56 * ph_count)) return cut_short(error, "its program header table", ph_at + 56 * ph_count, file_size);
    std::string ph;
    if (!bytes.read(ph_at, 56 * ph_count, &ph, error)) return false;
    std::vector<LoadSegment> loads;
    uint64_t base = UINT64_MAX;
    for (uint64_t i = 0; i < ph_count; ++i) {
        const size_t at = 56 * i;
        if (get_le32(ph, at) != pt_load) continue;
        LoadSegment load{get_le64(ph, at + 8), get_le64(ph, at + 16), get_le64(ph, at + 32)};
        if (load.offset > file_size || load.filesz > file_size - load.offset)
            return cut_short(error, "its load segment at file byte " + number(load.offset), load.offset + load.filesz,
                             file_size);
        if (load.offset == 0) base = load.vaddr;
        loads.push_back(load);
    }
    if (base == UINT64_MAX) return fail(error, "none of its load segments maps its first byte");

    const uint64_t sh_at = get_le64(h, 0x28), sh_count = get_le16(h, 0x3C), names_index = get_le16(h, 0x3E);
    if (get_le16(h, 0x3A) != 64 || names_index >= sh_count) return fail(error, "its section headers are damaged");
    if (!bytes.holds(sh_at, 64 * sh_count)) return cut_short(error, "its section header table", sh_at + 64 * sh_count, file_size);
    std::string sh;
    if (!bytes.read(sh_at, 64 * sh_count, &sh, error)) return false;
    const uint64_t names_at = get_le64(sh, 64 * names_index + 24), names_size = get_le64(sh, 64 * names_index + 32);
    if (!bytes.holds(names_at, names_size) || names_size > descriptor_section_limit)
        return fail(error, "its section names lie outside the file");
    std::string names;
    if (!bytes.read(names_at, names_size, &names, error)) return false;
    const std::string wanted(image_descriptor_section, sizeof image_descriptor_section);   // with its 0
    uint64_t section_at = 0, section_size = 0;
    bool found = false;
    for (uint64_t i = 0; i < sh_count && !found; ++i) {
        const uint64_t name = get_le32(sh, 64 * i);
        if (name >= names.size() || names.compare(name, wanted.size(), wanted) != 0) continue;
        section_at = get_le64(sh, 64 * i + 24);
        section_size = get_le64(sh, 64 * i + 32);
        found = true;
    }
    if (!found) {
        return fail(error, std::string("it is an x86-64 program, but not a zembra launcher: it has no ") +
                               image_descriptor_section + " section");
    }
    if (!bytes.holds(section_at, section_size)) {
        return cut_short(error, std::string("its ") + image_descriptor_section + " section", section_at + section_size,
                         file_size);
    }
    std::string descriptor_bytes;
    if (!bytes.read(section_at, std::min(section_size, descriptor_section_limit), &descriptor_bytes, error)) return false;
    BuiltinPlace places[5];
    if (!read_descriptor(descriptor_bytes, "Linux", places, error)) return false;
    const PlaceInFile place_in_file = [&](uint64_t offset, uint64_t length, uint64_t* file_at) {
        if (offset > UINT64_MAX - base) return false;
        const uint64_t vaddr = base + offset;
        for (const LoadSegment& s : loads) {
            if (vaddr >= s.vaddr && vaddr - s.vaddr <= s.filesz && length <= s.filesz - (vaddr - s.vaddr)) {
                *file_at = s.offset + (vaddr - s.vaddr);
                return true;
            }
        }
        return false;
    };
    if (!read_builtins(bytes, places, place_in_file, contents, error)) return false;
    contents->kind = ImageKind::linux_launcher;
    return true;
}

}  // namespace

const char* image_kind_name(ImageKind kind) {
    switch (kind) {
    case ImageKind::windows_launcher: return "windows";
    case ImageKind::linux_launcher: return "linux";
    case ImageKind::bare_block: break;
    }
    return "block";
}

bool read_image(const ImageBytes& bytes, ImageContents* contents, std::string* error) {
    *contents = ImageContents();
    std::string start;
    if (bytes.size() == 0) return fail(error, "it is empty");
    if (!bytes.read(0, std::min<uint64_t>(bytes.size(), 4), &start, error)) return false;
    if (start.compare(0, 2, "MZ") == 0) return read_windows(bytes, contents, error);
    if (start.compare(0, 4, "\x7f" "ELF") == 0) return read_linux(bytes, contents, error);
    if (start.compare(0, block_magic_size, std::string(reinterpret_cast<const char*>(block_magic), block_magic_size)) == 0) {
        contents->kind = ImageKind::bare_block;
        contents->block_offset = 0;
        contents->block_size = bytes.size();
        return true;
    }
    return fail(error, "it is not a zembra launcher or block: it starts with none of MZ, \\x7FELF and QVR");
}

bool read_image(const unsigned char* bytes, uint64_t size, ImageContents* contents, std::string* error) {
    return read_image(MemoryBytes(bytes, size), contents, error);
}

bool check_image_checksum(const ImageBytes& bytes, const ImageContents& contents, std::string* error) {
    if (contents.kind != ImageKind::windows_launcher) return true;
    ImageChecksum checksum;
    std::vector<char> chunk(1 << 20);
    for (uint64_t at = 0; at < bytes.size();) {
        const size_t count = static_cast<size_t>(std::min<uint64_t>(chunk.size(), bytes.size() - at));
        if (!bytes.read(at, chunk.data(), count, error)) return false;
        // The field itself counts as 0.
        for (uint64_t i = contents.checksum_at; i < contents.checksum_at + 4; ++i)
            if (i >= at && i < at + count) chunk[i - at] = 0;
        // Words pair bytes from even offsets, and every chunk but the last
        // is of even length.
        checksum.add(chunk.data(), count);
        at += count;
    }
    const uint32_t sum = checksum.finish(bytes.size());
    if (sum == contents.stored_checksum) return true;
    return fail(error, "its header checksum at file byte " + number(contents.checksum_at) + " is " +
                           hex(contents.stored_checksum) + ", but the file sums to " + hex(sum));
}
