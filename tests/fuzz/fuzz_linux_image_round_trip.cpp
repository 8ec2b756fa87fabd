// The Linux image writer over any identity and block, and over stubs of a
// few shapes (the note before or after the load segment, a note the kernel
// needs for the program's properties beside one it does not, a 2 MiB
// alignment, a second load segment). The image is read back as the kernel
// maps it and as the launcher then reads itself: the program header table
// keeps its place and size, the spare note has become one read-only load
// segment after every other, aligned, mapping the data appended on its
// boundary; the load segments stay sorted; nothing else of the stub
// changed; the descriptor, read from the mapped memory, leads to the block
// byte for byte and to each built-in text, UTF-16 with its NUL. The reader
// of list/extract/verify finds the same block and texts.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "elf_image.h"
#include "identity.h"
#include "identity_check.h"
#include "image_plan.h"
#include "image_reader.h"
#include "launcher/image_descriptor.h"
#include "little_endian.h"
#include "utf8.h"

namespace {

const bool show = std::getenv("FUZZ_SHOW") != nullptr;

void check(bool ok, const char* what) {
    if (ok) return;
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

enum : uint32_t { pt_load = 1, pt_note = 4, pt_gnu_property = 0x6474e553 };
constexpr size_t table = 64, entry = 56, sections_at = 0x400;
constexpr uint64_t base = 0x400000, descriptor_at = 0x200;

struct Header {
    uint32_t type, flags;
    uint64_t offset, vaddr, filesz, align;
};

enum Shape : unsigned { note_first = 1, property_note = 2, huge_alignment = 4, second_load = 8 };

// A stub of the given shape: an ELF header, the program headers, two notes'
// bytes, the empty descriptor in .zembra, and the section names.
std::string linux_stub(unsigned shape, std::vector<Header>* headers) {
    std::string s(0x1000, '\0');
    s.replace(0, 8, "\x7f" "ELF\x02\x01\x01\x00", 8);
    const uint64_t align = shape & huge_alignment ? 0x200000 : 0x1000;
    const Header load{pt_load, 5, 0, base, 0x1000, align};
    const Header note{pt_note, 4, 0x180, base + 0x180, 16, 4};
    headers->clear();
    if (shape & note_first) headers->push_back(note);
    headers->push_back(load);
    if (shape & second_load) headers->push_back({pt_load, 6, 0x800, 0x600800, 0x100, align});
    if (shape & property_note) {
        // The note the properties lie in must stay; the writer takes the next.
        headers->insert(headers->begin(), {pt_gnu_property, 4, 0x190, base + 0x190, 16, 8});
        headers->insert(headers->begin(), {pt_note, 4, 0x190, base + 0x190, 16, 8});
    }
    if (!(shape & note_first)) headers->push_back(note);
    const struct {
        size_t at;
        uint64_t value;
        int width;
    } fields[] = {{0x10, 2, 2},  {0x12, 62, 2},        {0x14, 1, 4},  {0x18, base + 0x1000, 8},
                  {0x20, table, 8}, {0x28, sections_at, 8}, {0x34, 64, 2}, {0x36, entry, 2},
                  {0x38, headers->size(), 2}, {0x3A, 64, 2}, {0x3C, 3, 2}, {0x3E, 2, 2}};
    for (const auto& f : fields) set_le(&s, f.at, f.value, f.width);
    for (size_t i = 0; i < headers->size(); ++i) {
        const Header& h = (*headers)[i];
        const size_t at = table + entry * i;
        set_le(&s, at, h.type, 4);
        set_le(&s, at + 4, h.flags, 4);
        set_le(&s, at + 8, h.offset, 8);
        set_le(&s, at + 16, h.vaddr, 8);
        set_le(&s, at + 24, h.vaddr, 8);
        set_le(&s, at + 32, h.filesz, 8);
        set_le(&s, at + 40, h.filesz, 8);
        set_le(&s, at + 48, h.align, 8);
    }
    std::memcpy(&s[descriptor_at], &empty_image_descriptor, sizeof empty_image_descriptor);
    const char names[] = "\0.zembra\0.shstrtab";
    std::memcpy(&s[0x300], names, sizeof names);
    const struct {
        uint32_t name, type;
        uint64_t addr, offset, size;
    } sections[] = {{1, 1, base + descriptor_at, descriptor_at, sizeof empty_image_descriptor},
                    {9, 3, 0, 0x300, sizeof names}};
    for (size_t i = 0; i < 2; ++i) {
        const size_t at = sections_at + 64 * (i + 1);
        set_le(&s, at, sections[i].name, 4);
        set_le(&s, at + 4, sections[i].type, 4);
        set_le(&s, at + 16, sections[i].addr, 8);
        set_le(&s, at + 24, sections[i].offset, 8);
        set_le(&s, at + 32, sections[i].size, 8);
    }
    return s;
}

struct Segment {
    Header h;
    uint64_t memsz, paddr;
};

std::vector<Segment> program_headers(const std::string& image) {
    const size_t count = get_le16(image, 0x38);
    check(get_le64(image, 0x20) == table && get_le16(image, 0x36) == entry, "the program header table moved");
    std::vector<Segment> out;
    for (size_t i = 0; i < count; ++i) {
        const size_t at = table + entry * i;
        out.push_back({{get_le32(image, at), get_le32(image, at + 4), get_le64(image, at + 8), get_le64(image, at + 16),
                        get_le64(image, at + 32), get_le64(image, at + 48)},
                       get_le64(image, at + 40), get_le64(image, at + 24)});
    }
    return out;
}

// What the kernel maps at `vaddr`, `size` bytes of it, from the file.
bool mapped(const std::string& image, const std::vector<Segment>& segments, uint64_t vaddr, uint64_t size,
            std::string* out) {
    for (const Segment& s : segments) {
        if (s.h.type != pt_load || vaddr < s.h.vaddr || vaddr - s.h.vaddr > s.h.filesz ||
            size > s.h.filesz - (vaddr - s.h.vaddr))
            continue;
        if (s.h.offset + s.h.filesz > image.size()) return false;
        *out = image.substr(s.h.offset + (vaddr - s.h.vaddr), size);
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

uint64_t align_to(uint64_t value, uint64_t to) { return (value + to - 1) / to * to; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const unsigned shape = input.ConsumeIntegralInRange<unsigned>(0, 15);
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
    const std::string block = input.ConsumeRemainingBytesAsString();

    std::vector<Header> stub_headers;
    const std::string stub = linux_stub(shape, &stub_headers);
    ImagePlan plan;
    PlanFault fault = PlanFault::stub;
    std::string reason;
    const BuiltinData builtin = lay_out_builtin_data(block.size(), identity);
    if (!plan_elf_image(stub, builtin, &plan, &fault, &reason)) {
        std::fprintf(stderr, "stub shape %u refused: %s\n", shape, reason.c_str());
        check(false, "a small stub not written from");
    }
    check(plan.block_size == block.size() && plan.checksum_at == 0, "the plan holds another block or a checksum");
    const std::string image = plan.head + block + plan.tail;
    if (show) std::fprintf(stderr, "written: shape %u, a block of %zu bytes\n", shape, block.size());

    // The headers: the same table, the spare note made the new load segment,
    // every other header kept in its order.
    const std::vector<Segment> segments = program_headers(image);
    check(segments.size() == stub_headers.size(), "the program header table changed its size");
    const uint64_t align = shape & huge_alignment ? 0x200000 : 0x1000;
    const uint64_t data_at = align_to(stub.size(), align);
    // The stub's headers but the note the writer was to take: the one the
    // kernel does not need for the program's properties.
    std::vector<Header> expected;
    for (const Header& h : stub_headers)
        if (!(h.type == pt_note && h.offset == 0x180)) expected.push_back(h);
    size_t added = segments.size(), kept = 0;
    uint64_t last_vaddr = 0, loaded_end = 0;
    for (size_t i = 0; i < segments.size(); ++i) {
        const Segment& s = segments[i];
        check(s.memsz == s.h.filesz && s.paddr == s.h.vaddr, "a header with other sizes in memory and file");
        if (s.h.type == pt_load) {
            check(s.h.vaddr >= last_vaddr, "load segments out of address order");
            last_vaddr = s.h.vaddr;
        }
        if (s.h.type == pt_load && s.h.offset == data_at && s.h.flags == 4) {
            check(added == segments.size(), "two new load segments");
            added = i;
            continue;
        }
        check(kept < expected.size(), "the spare note is still there");
        const Header& was = expected[kept++];
        check(was.type == s.h.type && was.offset == s.h.offset && was.vaddr == s.h.vaddr && was.filesz == s.h.filesz &&
                  was.flags == s.h.flags && was.align == s.h.align,
              "a stub header changed or moved out of order");
        if (s.h.type == pt_load) loaded_end = std::max(loaded_end, s.h.vaddr + s.memsz);
    }
    check(added < segments.size(), "no load segment for the attached data");
    const Segment& data_segment = segments[added];
    check(data_segment.h.align == align && data_segment.h.vaddr % align == data_at % align &&
              data_segment.h.vaddr >= loaded_end,
          "the data's segment not aligned after every other");
    check(data_segment.h.filesz == block.size() + plan.tail.size() && image.size() == data_at + data_segment.h.filesz,
          "the data's segment does not end the file");
    for (size_t i = 0; i < stub.size(); ++i) {
        if (i >= table && i < table + entry * segments.size()) continue;
        if (i >= descriptor_at && i < descriptor_at + sizeof(ImageDescriptor)) continue;
        if (image[i] != stub[i]) check(false, "a stub byte outside its headers and descriptor changed");
    }
    for (size_t i = stub.size(); i < data_at; ++i) check(image[i] == 0, "padding before the data that is not zero");

    // The launcher's view: the descriptor at its linked address, and what
    // its places lead to in the mapped memory.
    std::string descriptor;
    check(mapped(image, segments, base + descriptor_at, sizeof(ImageDescriptor), &descriptor) &&
              std::memcmp(descriptor.data(), empty_image_descriptor.magic, sizeof empty_image_descriptor.magic) == 0,
          "the descriptor is not mapped where the launcher is linked to find it");
    auto place = [&](int index) {
        const size_t at = 16 + 16 * index;
        return BuiltinPlace{get_le64(descriptor, at), get_le64(descriptor, at + 8)};
    };
    const BuiltinPlace attached = place(0);
    check(attached.length == block.size(), "the descriptor's attached data length");
    std::string bytes;
    check(mapped(image, segments, base + attached.offset, attached.length, &bytes) && bytes == block,
          "the attached data read back differs from the block");
    const std::string* texts[] = {&identity.unpack_spec, &identity.company, &identity.product, &identity.version};
    for (int i = 0; i < 4; ++i) {
        const BuiltinPlace text = place(i + 1);
        const std::string expected = utf16_bytes(*texts[i]);
        check(text.offset % 2 == 0 && text.length == expected.size() / 2 - 1, "a text's place");
        check(mapped(image, segments, base + text.offset, 2 * text.length + 2, &bytes) && bytes == expected,
              "a text read back differs from the identity");
    }

    // And list/extract/verify's reader finds the same.
    ImageContents contents;
    const bool read = read_image(reinterpret_cast<const unsigned char*>(image.data()), image.size(), &contents, &reason);
    if (!read) std::fprintf(stderr, "refused: %s\n", reason.c_str());
    check(read,
          "the written image is refused by the reader");
    check(contents.kind == ImageKind::linux_launcher && contents.block_offset == data_at &&
              contents.block_size == block.size(),
          "the reader finds another block");
    check(contents.unpack_spec == identity.unpack_spec && contents.company == identity.company &&
              contents.product == identity.product && contents.version == identity.version,
          "the reader finds other texts");
    return 0;
}
