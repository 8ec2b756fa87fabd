#include "pe_image.h"

#include <cstring>

#include "little_endian.h"

namespace {

const uint64_t file_alignment = 4096;
const size_t section_header_size = 40;
const uint32_t initialised_read_only = 0x40000040u;   // initialised data, readable
enum { export_directory = 0, resource_directory = 2, security_directory = 4, debug_directory = 6 };

// Where the fields of the stub's headers are.
struct PeHeaders {
    size_t coff = 0;              // the file header, after the signature
    size_t optional = 0;
    size_t sections = 0;          // the section table
    size_t section_count = 0;
    size_t directories = 0;       // the data directory
    size_t directory_count = 0;
    uint64_t section_alignment = 0;
};

struct Section {
    std::string name;
    uint32_t virtual_size, rva, raw_size, raw_at;
};

Section section_at(const std::string& image, size_t header) {
    const char* name = image.data() + header;
    return {std::string(name, strnlen(name, 8)), get_le32(image, header + 8), get_le32(image, header + 12),
            get_le32(image, header + 16), get_le32(image, header + 20)};
}

bool read_headers(const std::string& s, PeHeaders* h, std::string* reason) {
    if (s.size() < 64 || s.compare(0, 2, "MZ") != 0) {
        *reason = "it is not a Windows image";
        return false;
    }
    const uint64_t pe = get_le32(s, 0x3C);
    if (pe + 24 > s.size() || s.compare(pe, 4, std::string("PE\0\0", 4)) != 0) {
        *reason = "it is not a Windows image";
        return false;
    }
    h->coff = pe + 4;
    h->optional = pe + 24;
    const size_t optional_size = get_le16(s, h->coff + 16);
    if (h->optional + optional_size > s.size()) {
        *reason = "its headers are cut off";
        return false;
    }
    if (get_le16(s, h->coff) != 0x8664 || optional_size < 112 || get_le16(s, h->optional) != 0x20B) {
        *reason = "it is not an x86-64 image";
        return false;
    }
    h->directories = h->optional + 112;
    h->directory_count = get_le32(s, h->optional + 108);
    if (h->directory_count < 7 || 112 + 8 * h->directory_count > optional_size) {
        *reason = "its data directory is too short";
        return false;
    }
    h->sections = h->optional + optional_size;
    h->section_count = get_le16(s, h->coff + 2);
    if (h->section_count == 0 || h->sections + section_header_size * h->section_count > s.size()) {
        *reason = "its section table is cut off";
        return false;
    }
    h->section_alignment = get_le32(s, h->optional + 32);
    if (get_le32(s, h->optional + 36) != file_alignment || h->section_alignment < file_alignment ||
        (h->section_alignment & (h->section_alignment - 1)) != 0) {
        *reason = "its sections are not aligned to 4096 bytes";
        return false;
    }
    return true;
}

// The file offset of `rva` inside one of the stub's sections, or 0.
uint64_t file_offset(const std::vector<Section>& sections, uint64_t rva, uint64_t size) {
    for (const Section& s : sections)
        if (rva >= s.rva && rva + size <= uint64_t(s.rva) + s.raw_size) return s.raw_at + (rva - s.rva);
    return 0;
}

void append_section_header(std::string* image, size_t at, const char* name, uint32_t virtual_size, uint32_t rva,
                           uint32_t raw_size, uint32_t raw_at) {
    std::string header(section_header_size, '\0');
    std::memcpy(&header[0], name, std::strlen(name));
    set_le(&header, 8, virtual_size, 4);
    set_le(&header, 12, rva, 4);
    set_le(&header, 16, raw_size, 4);
    set_le(&header, 20, raw_at, 4);
    set_le(&header, 36, initialised_read_only, 4);
    image->replace(at, section_header_size, header);
}

// Time stamps in the directories that carry one, so that the same input
// always gives the same image.
void clear_time_stamps(std::string* image, const PeHeaders& h, const std::vector<Section>& sections) {
    const uint64_t export_rva = get_le32(*image, h.directories + 8 * export_directory);
    if (uint64_t at = export_rva ? file_offset(sections, export_rva, 40) : 0) set_le(image, at + 4, 0, 4);
    const uint64_t debug_rva = get_le32(*image, h.directories + 8 * debug_directory);
    const uint64_t debug_size = get_le32(*image, h.directories + 8 * debug_directory + 4);
    for (uint64_t entry = 0; debug_rva != 0 && entry + 28 <= debug_size; entry += 28)
        if (uint64_t at = file_offset(sections, debug_rva + entry, 28)) set_le(image, at + 4, 0, 4);
}

}  // namespace

bool plan_pe_image(const std::string& stub, const BuiltinData& data, const std::vector<Resource>& resources,
                   uint32_t code_page, ImagePlan* plan, PlanFault* fault, std::string* reason) {
    *fault = PlanFault::stub;
    PeHeaders h;
    if (!read_headers(stub, &h, reason)) return false;
    std::vector<Section> sections;
    uint64_t first_raw = UINT64_MAX, raw_end = 0, image_end = 0;
    const Section* descriptor = nullptr;
    for (size_t i = 0; i < h.section_count; ++i) {
        sections.push_back(section_at(stub, h.sections + section_header_size * i));
        const Section& s = sections.back();
        if (uint64_t(s.raw_at) + s.raw_size > stub.size()) {
            *reason = "its section " + s.name + " lies outside the file";
            return false;
        }
        if (s.name == ".rsrc" || s.name == attached_section) {
            *reason = "it has a " + s.name + " section already";
            return false;
        }
        if (s.raw_size != 0) first_raw = std::min<uint64_t>(first_raw, s.raw_at);
        raw_end = std::max<uint64_t>(raw_end, uint64_t(s.raw_at) + s.raw_size);
        image_end = std::max<uint64_t>(image_end, uint64_t(s.rva) + std::max(s.virtual_size, s.raw_size));
    }
    for (const Section& s : sections)
        if (s.name == image_descriptor_section) descriptor = &s;
    if (descriptor == nullptr) {
        *reason = std::string("it has no ") + image_descriptor_section + " section";
        return false;
    }
    size_t descriptor_at = 0;
    if (!find_empty_descriptor(stub, descriptor->raw_at, uint64_t(descriptor->raw_at) + descriptor->raw_size,
                               &descriptor_at, reason)) {
        return false;
    }
    if (get_le32(stub, h.directories + 8 * resource_directory + 4) != 0 ||
        get_le32(stub, h.directories + 8 * security_directory + 4) != 0) {
        *reason = "it has resources or a signature already";
        return false;
    }
    // Anything after the sections (symbols, a signature) would end up
    // between them and the new ones.
    if (align_up(raw_end, file_alignment) != align_up(stub.size(), file_alignment)) {
        *reason = "it has data after its last section";
        return false;
    }
    const size_t table_end = h.sections + section_header_size * (h.section_count + 2);
    if (table_end > first_raw || table_end > get_le32(stub, h.optional + 60)) {
        *reason = "its headers have no room for two more sections";
        return false;
    }

    // The new sections follow the stub's, in the file and in memory.
    const uint64_t resources_rva = align_up(image_end, h.section_alignment);
    const uint64_t resources_at = align_up(stub.size(), file_alignment);
    const std::string rsrc = resource_section(resources, static_cast<uint32_t>(resources_rva), code_page);
    const uint64_t resources_raw = align_up(rsrc.size(), file_alignment);
    const uint64_t data_rva = align_up(resources_rva + rsrc.size(), h.section_alignment);
    const uint64_t data_at = resources_at + resources_raw;
    const uint64_t data_raw = align_up(data.size(), file_alignment);
    const uint64_t size_of_image = align_up(data_rva + data.size(), h.section_alignment);
    if (size_of_image > UINT32_MAX || data_at + data_raw > UINT32_MAX) {
        *fault = PlanFault::too_big;
        *reason = "the attached data (" + std::to_string(data.block_size) +
                  " bytes) is too big for a Windows image, whose sizes are 32-bit (4 GiB in all)";
        return false;
    }

    if (plan == nullptr) return true;

    // Made at its final size at once: growing it would copy the stub again.
    std::string& head = plan->head;
    head.clear();
    head.reserve(static_cast<size_t>(data_at));
    head.append(stub);
    head.resize(resources_at, '\0');
    head += rsrc;
    head.resize(data_at, '\0');
    const size_t table = h.sections + section_header_size * h.section_count;
    append_section_header(&head, table, ".rsrc", static_cast<uint32_t>(rsrc.size()),
                          static_cast<uint32_t>(resources_rva), static_cast<uint32_t>(resources_raw),
                          static_cast<uint32_t>(resources_at));
    append_section_header(&head, table + section_header_size, attached_section, static_cast<uint32_t>(data.size()),
                          static_cast<uint32_t>(data_rva), static_cast<uint32_t>(data_raw),
                          static_cast<uint32_t>(data_at));
    set_le(&head, h.coff + 2, h.section_count + 2, 2);
    set_le(&head, h.coff + 4, 0, 4);   // no time stamp
    set_le(&head, h.optional + 8, get_le32(head, h.optional + 8) + resources_raw + data_raw, 4);
    set_le(&head, h.optional + 56, size_of_image, 4);
    set_le(&head, h.optional + 64, 0, 4);   // the checksum, filled in as the image is written
    set_le(&head, h.directories + 8 * resource_directory, resources_rva, 4);
    set_le(&head, h.directories + 8 * resource_directory + 4, rsrc.size(), 4);
    clear_time_stamps(&head, h, sections);
    fill_descriptor(&head, descriptor_at, data, data_rva);

    plan->block_size = data.block_size;
    plan->tail = data.after_block;
    plan->tail.resize(data_raw - data.block_size, '\0');
    plan->checksum_at = h.optional + 64;
    return true;
}
