// The Windows image writer over any identity, resources and block: the
// image is laid out over a small stub made here, then read back the way
// the loader and the launcher read it. Its sections follow one another,
// aligned, and the headers describe them; the descriptor in the stub's own
// section leads to the block, byte for byte, and to each built-in text,
// UTF-16 with its NUL; the resource directory names the resource section.
// An identity that check_identity refuses is not written (the writer takes
// only checked identities).
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "identity.h"
#include "identity_check.h"
#include "image_plan.h"
#include "launcher/image_descriptor.h"
#include "little_endian.h"
#include "pe_image.h"
#include "pe_resources.h"
#include "utf8.h"

namespace {

// FUZZ_SHOW=1 prints each input's ending, to see what the seeds reach.
const bool show = std::getenv("FUZZ_SHOW") != nullptr;

void check(bool ok, const char* what) {
    if (ok) return;
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

constexpr size_t coff = 0x44, optional = 0x58, table = optional + 240;
constexpr size_t descriptor_at = 0x2000;

// Headers, .text holding a debug directory, and .zembra with the empty
// descriptor: what the packer needs of a stub.
std::string windows_stub() {
    std::string s(0x3000, '\0');
    s.replace(0, 2, "MZ");
    set_le(&s, 0x3C, 0x40, 4);
    s.replace(0x40, 4, std::string("PE\0\0", 4));
    set_le(&s, coff, 0x8664, 2);
    set_le(&s, coff + 2, 2, 2);
    set_le(&s, coff + 16, 240, 2);
    set_le(&s, optional, 0x20B, 2);
    set_le(&s, optional + 8, 0x1000, 4);
    set_le(&s, optional + 32, 0x1000, 4);
    set_le(&s, optional + 36, 0x1000, 4);
    set_le(&s, optional + 56, 0x3000, 4);
    set_le(&s, optional + 60, 0x1000, 4);
    set_le(&s, optional + 108, 16, 4);
    set_le(&s, optional + 112 + 8 * 6, 0x1100, 4);   // debug directory, in .text
    set_le(&s, optional + 112 + 8 * 6 + 4, 28, 4);
    const struct {
        const char* name;
        uint32_t rva;
    } sections[] = {{".text", 0x1000}, {image_descriptor_section, 0x2000}};
    for (size_t i = 0; i < 2; ++i) {
        const size_t h = table + 40 * i;
        std::memcpy(&s[h], sections[i].name, std::strlen(sections[i].name));
        set_le(&s, h + 8, 0x200, 4);
        set_le(&s, h + 12, sections[i].rva, 4);
        set_le(&s, h + 16, 0x1000, 4);
        set_le(&s, h + 20, sections[i].rva, 4);
    }
    std::memcpy(&s[descriptor_at], &empty_image_descriptor, sizeof empty_image_descriptor);
    return s;
}

struct Section {
    std::string name;
    uint64_t virtual_size, rva, raw_size, raw_at;
};

std::vector<Section> sections_of(const std::string& image) {
    std::vector<Section> out;
    check(image.size() >= table, "an image shorter than its headers");
    const size_t count = get_le16(image, coff + 2);
    check(image.size() >= table + 40 * count, "a section table past the image's end");
    for (size_t i = 0; i < count; ++i) {
        const size_t h = table + 40 * i;
        out.push_back({std::string(image.c_str() + h, strnlen(image.c_str() + h, 8)), get_le32(image, h + 8),
                       get_le32(image, h + 12), get_le32(image, h + 16), get_le32(image, h + 20)});
    }
    return out;
}

// What the loader maps at `rva`, `size` bytes of it, from one section's data.
bool mapped(const std::string& image, const std::vector<Section>& sections, uint64_t rva, uint64_t size,
            std::string* out) {
    for (const Section& s : sections) {
        if (rva < s.rva || rva - s.rva > s.virtual_size || size > s.virtual_size - (rva - s.rva)) continue;
        if (rva - s.rva + size > s.raw_size || s.raw_at + (rva - s.rva) + size > image.size()) return false;
        *out = image.substr(s.raw_at + (rva - s.rva), size);
        return true;
    }
    return false;
}

std::string utf16_bytes(const std::string& text) {
    std::u16string units;
    check(utf8_to_utf16(text, &units), "a checked text that is not UTF-8");
    std::string bytes;
    for (char16_t unit : units) append_le(&bytes, unit, 2);
    return bytes + std::string(2, '\0');
}

uint64_t align(uint64_t value, uint64_t to) { return (value + to - 1) / to * to; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    Identity identity;
    if (input.ConsumeBool()) identity.company = input.ConsumeRandomLengthString(200);
    if (input.ConsumeBool()) identity.product = input.ConsumeRandomLengthString(200);
    if (input.ConsumeBool()) identity.version = input.ConsumeRandomLengthString(20);
    if (input.ConsumeBool()) identity.unpack_spec = input.ConsumeRandomLengthString(300);
    std::string problem;
    if (!check_identity(identity, &problem)) {
        if (show) std::fprintf(stderr, "identity refused: %s\n", problem.c_str());
        return 0;
    }
    std::vector<Resource> resources;
    for (int n = input.ConsumeIntegralInRange(0, 4); n > 0; --n) {
        const uint16_t type = input.ConsumeIntegralInRange<uint16_t>(1, 24);
        const uint16_t id = input.ConsumeIntegralInRange<uint16_t>(1, 8);
        bool taken = false;
        for (const Resource& r : resources) taken |= r.type == type && r.id == id;
        if (!taken) resources.push_back({type, id, input.ConsumeRandomLengthString(600)});
    }
    const uint32_t code_page = input.ConsumeBool() ? 1252 : 65001;
    const std::string block = input.ConsumeRemainingBytesAsString();

    static const std::string stub = windows_stub();
    ImagePlan plan;
    PlanFault fault = PlanFault::stub;
    std::string reason;
    const BuiltinData builtin = lay_out_builtin_data(block.size(), identity);
    check(plan_pe_image(stub, builtin, resources, code_page, &plan, &fault, &reason), "a small image not laid out");
    check(plan.block_size == block.size(), "the plan holds another block size");
    const std::string image = plan.head + block + plan.tail;
    if (show) std::fprintf(stderr, "written: %zu resources, a block of %zu bytes\n", resources.size(), block.size());

    // The sections: the stub's two, the resources, the attached data; each
    // new one right after the one before, in memory and in the file.
    const std::vector<Section> sections = sections_of(image);
    check(sections.size() == 4 && sections[0].name == ".text" && sections[1].name == image_descriptor_section &&
              sections[2].name == ".rsrc" && sections[3].name == attached_section,
          "not the stub's sections, then the resources and the attached data");
    for (size_t i = 2; i < sections.size(); ++i) {
        const Section &s = sections[i], &before = sections[i - 1];
        check(s.rva == align(before.rva + before.virtual_size, 0x1000), "a section not right after the one before");
        check(s.raw_at == before.raw_at + before.raw_size && s.raw_size % 0x1000 == 0 &&
                  s.raw_size >= s.virtual_size,
              "a section's data not right after the one before, aligned and whole");
    }
    const Section& last = sections.back();
    check(image.size() == last.raw_at + last.raw_size, "the image does not end with its last section");
    check(get_le32(image, optional + 56) == align(last.rva + last.virtual_size, 0x1000), "the image size");
    check(get_le32(image, optional + 112 + 16) == sections[2].rva &&
              get_le32(image, optional + 112 + 20) == sections[2].virtual_size,
          "the resource directory does not name the resource section");

    // The descriptor, where the launcher looks for it, leads to the block
    // and to each text.
    check(std::memcmp(image.data() + descriptor_at, empty_image_descriptor.magic, sizeof empty_image_descriptor.magic) ==
              0,
          "the descriptor's magic");
    auto place = [&](int index) {
        const size_t at = descriptor_at + 16 + 16 * index;
        return BuiltinPlace{get_le64(image, at), get_le64(image, at + 8)};
    };
    const BuiltinPlace attached = place(0);
    check(attached.offset == last.rva && attached.length == block.size(), "the descriptor's attached data");
    std::string bytes;
    check(mapped(image, sections, attached.offset, attached.length, &bytes) && bytes == block,
          "the attached data read back differs from the block");
    const std::string* texts[] = {&identity.unpack_spec, &identity.company, &identity.product, &identity.version};
    for (int i = 0; i < 4; ++i) {
        const BuiltinPlace text = place(i + 1);
        const std::string expected = utf16_bytes(*texts[i]);
        check(text.offset % 2 == 0 && text.length == expected.size() / 2 - 1, "a text's place");
        check(mapped(image, sections, text.offset, 2 * text.length + 2, &bytes) && bytes == expected,
              "a text read back differs from the identity");
    }
    return 0;
}
