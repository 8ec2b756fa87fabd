#include "elf_image.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "little_endian.h"

namespace {

enum : uint32_t { pt_load = 1, pt_note = 4, pt_gnu_property = 0x6474e553, pf_r = 4 };
const size_t header_size = 64, program_header_size = 56, section_header_size = 64;
const uint64_t page = 4096;
// Far below the 47 bits of a process's address space, far above any
// attached data there is disk for.
const uint64_t largest_address = uint64_t(1) << 44;

struct ProgramHeader {
    uint32_t type, flags;
    uint64_t offset, vaddr, paddr, filesz, memsz, align;
};

ProgramHeader program_header_at(const std::string& s, size_t at) {
    return {get_le32(s, at),      get_le32(s, at + 4),  get_le64(s, at + 8),  get_le64(s, at + 16),
            get_le64(s, at + 24), get_le64(s, at + 32), get_le64(s, at + 40), get_le64(s, at + 48)};
}

void put_program_header(std::string* s, size_t at, const ProgramHeader& p) {
    set_le(s, at, p.type, 4);
    set_le(s, at + 4, p.flags, 4);
    set_le(s, at + 8, p.offset, 8);
    set_le(s, at + 16, p.vaddr, 8);
    set_le(s, at + 24, p.paddr, 8);
    set_le(s, at + 32, p.filesz, 8);
    set_le(s, at + 40, p.memsz, 8);
    set_le(s, at + 48, p.align, 8);
}

// The file range of the section named `name`, found through the section
// header string table.
bool find_section(const std::string& s, const char* name, uint64_t* begin, uint64_t* end, std::string* reason) {
    const uint64_t table = get_le64(s, 0x28);
    const size_t count = get_le16(s, 0x3C), names = get_le16(s, 0x3E);
    if (get_le16(s, 0x3A) != section_header_size || names >= count || table > s.size() ||
        (s.size() - table) / section_header_size < count) {
        *reason = "its section headers are cut off";
        return false;
    }
    const uint64_t names_at = get_le64(s, table + names * section_header_size + 24);
    const uint64_t names_size = get_le64(s, table + names * section_header_size + 32);
    if (names_at > s.size() || s.size() - names_at < names_size) {
        *reason = "its section names are cut off";
        return false;
    }
    for (size_t i = 0; i < count; ++i) {
        const size_t header = table + i * section_header_size;
        const uint64_t name_at = get_le32(s, header);
        if (name_at >= names_size || s.compare(names_at + name_at, std::strlen(name) + 1,
                                               std::string(name, std::strlen(name) + 1)) != 0)
            continue;
        *begin = get_le64(s, header + 24);
        *end = *begin + get_le64(s, header + 32);
        return true;
    }
    *reason = std::string("it has no ") + name + " section";
    return false;
}

}  // namespace

bool plan_elf_image(const std::string& stub, const BuiltinData& data, ImagePlan* plan, PlanFault* fault,
                    std::string* reason) {
    *fault = PlanFault::stub;
    const std::string& s = stub;
    if (s.size() < header_size || s.compare(0, 4, "\x7f" "ELF") != 0) {
        *reason = "it is not an ELF program";
        return false;
    }
    if (s[4] != 2 || s[5] != 1 || get_le16(s, 0x12) != 62) {
        *reason = "it is not an x86-64 program";
        return false;
    }
    const uint64_t table = get_le64(s, 0x20);
    const size_t count = get_le16(s, 0x38);
    if (get_le16(s, 0x36) != program_header_size || table > s.size() ||
        (s.size() - table) / program_header_size < count) {
        *reason = "its program headers are cut off";
        return false;
    }
    std::vector<ProgramHeader> headers;
    for (size_t i = 0; i < count; ++i) headers.push_back(program_header_at(s, table + i * program_header_size));

    uint64_t begin = 0, end = 0;
    size_t descriptor_at = 0;
    if (!find_section(s, image_descriptor_section, &begin, &end, reason) ||
        !find_empty_descriptor(s, begin, end, &descriptor_at, reason)) {
        return false;
    }

    // The ELF header is mapped where the first load segment starts; the
    // launcher counts its offsets from there.
    uint64_t base = UINT64_MAX, loaded_end = 0, alignment = page;
    size_t last_load = 0;
    for (size_t i = 0; i < headers.size(); ++i) {
        const ProgramHeader& p = headers[i];
        if (p.type != pt_load) continue;
        if (p.offset == 0) base = p.vaddr;
        loaded_end = std::max(loaded_end, p.vaddr + p.memsz);
        alignment = std::max(alignment, p.align);
        last_load = i;
    }
    if (base == UINT64_MAX || (alignment & (alignment - 1)) != 0 || loaded_end > largest_address) {
        *reason = "its load segments are not those of a program";
        return false;
    }
    // A note header the loader can do without: the kernel reads the
    // program's properties through their own header, which stays.
    size_t spare = headers.size();
    for (size_t i = 0; i < headers.size() && spare == headers.size(); ++i) {
        if (headers[i].type != pt_note) continue;
        bool holds_properties = false;
        for (const ProgramHeader& p : headers)
            holds_properties |= p.type == pt_gnu_property && p.offset >= headers[i].offset &&
                                p.offset < headers[i].offset + headers[i].filesz;
        if (!holds_properties) spare = i;
    }
    if (spare == headers.size()) {
        *reason = "it has no note header to turn into a load header";
        return false;
    }

    const uint64_t data_at = align_up(s.size(), alignment);
    const uint64_t data_vaddr = align_up(loaded_end, alignment);
    if (data.size() > largest_address - data_vaddr) {
        *fault = PlanFault::too_big;
        *reason = "the attached data (" + std::to_string(data.block_size) + " bytes) is too big";
        return false;
    }
    // Load headers stay sorted by address: the new one follows the last.
    const ProgramHeader load{pt_load, pf_r, data_at, data_vaddr, data_vaddr, data.size(), data.size(), alignment};
    headers.erase(headers.begin() + static_cast<long>(spare));
    headers.insert(headers.begin() + static_cast<long>(spare < last_load ? last_load : last_load + 1), load);

    if (plan == nullptr) return true;

    // Made at its final size at once: growing it would copy the stub again.
    plan->head.clear();
    plan->head.reserve(static_cast<size_t>(data_at));
    plan->head.append(s);
    for (size_t i = 0; i < headers.size(); ++i) put_program_header(&plan->head, table + i * program_header_size, headers[i]);
    fill_descriptor(&plan->head, descriptor_at, data, data_vaddr - base);
    plan->head.resize(data_at, '\0');
    plan->block_size = data.block_size;
    plan->tail = data.after_block;
    plan->checksum_at = 0;
    return true;
}
