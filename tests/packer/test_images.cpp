// The image writers over stubs: a small Windows image made here, and the
// Linux stub the build links. What the loader relies on is checked field by
// field; every damaged stub is refused with its reason.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <random>

#include "elf_image.h"
#include "fixture.h"
#include "image_plan.h"
#include "little_endian.h"
#include "pe_image.h"
#include "stub_fixture.h"

namespace {

Identity sample_identity() {
    Identity identity;
    identity.unpack_spec = "{CACHE_DIR}\\Zo\xc3\xab\\{VERSION}";
    identity.company = "Zo\xc3\xab & Co";
    identity.product = "Probe \xe2\x98\x83";
    identity.version = "3.14.159";
    return identity;
}

std::string utf16(const std::u16string& text) {
    std::string bytes;
    for (char16_t unit : text) append_le(&bytes, unit, 2);
    return bytes;
}

// --- the Windows stub --------------------------------------------------

const std::vector<Resource> sample_resources = {{24, 1, "<assembly/>"}, {3, 2, "icon two"}, {3, 1, "icon one"}};

struct PeSection {
    std::string name;
    uint32_t virtual_size, rva, raw_size, raw_at;
};

std::vector<PeSection> pe_sections(const std::string& image) {
    std::vector<PeSection> out;
    for (size_t i = 0; i < get_le16(image, coff + 2); ++i) {
        const size_t h = table + 40 * i;
        out.push_back({std::string(image.c_str() + h, strnlen(image.c_str() + h, 8)), get_le32(image, h + 8),
                       get_le32(image, h + 12), get_le32(image, h + 16), get_le32(image, h + 20)});
    }
    return out;
}

std::string whole(const ImagePlan& plan, const std::string& block) { return plan.head + block + plan.tail; }

// The bytes the descriptor's place points at, in a Windows image.
std::string pe_bytes_at(const std::string& image, uint64_t rva, uint64_t size) {
    for (const PeSection& s : pe_sections(image))
        if (rva >= s.rva && rva + size <= s.rva + s.virtual_size) return image.substr(s.raw_at + rva - s.rva, size);
    return "<outside every section>";
}

BuiltinPlace place(const std::string& image, size_t descriptor_at, int index) {
    const size_t at = descriptor_at + 16 + 16 * index;
    return {get_le64(image, at), get_le64(image, at + 8)};
}

TEST(WindowsImage, NewSectionsFollowTheStubsAndTheHeadersDescribeThem) {
    const std::string block = "QVR and five";   // odd length: the texts after it are realigned
    ImagePlan plan;
    PlanFault fault;
    std::string reason;
    ASSERT_TRUE(plan_pe_image(windows_stub(), lay_out_builtin_data(block.size(), sample_identity()),
                              sample_resources, 1252, &plan, &fault, &reason))
        << reason;
    const std::string image = whole(plan, block);
    const std::vector<PeSection> sections = pe_sections(image);
    ASSERT_EQ(sections.size(), 4u);
    EXPECT_EQ(sections[2].name, ".rsrc");
    EXPECT_EQ(sections[3].name, ".attach");
    for (size_t i = 1; i < sections.size(); ++i) {
        EXPECT_EQ(sections[i].rva, align_up(sections[i - 1].rva + sections[i - 1].virtual_size, 0x1000)) << i;
        EXPECT_EQ(sections[i].raw_at, sections[i - 1].raw_at + sections[i - 1].raw_size) << i;
        EXPECT_EQ(sections[i].raw_size % 0x1000, 0u) << i;
        EXPECT_GE(sections[i].raw_size, sections[i].virtual_size) << i;
    }
    EXPECT_EQ(image.size(), sections[3].raw_at + sections[3].raw_size);
    EXPECT_EQ(get_le32(image, optional + 56), align_up(sections[3].rva + sections[3].virtual_size, 0x1000));
    EXPECT_EQ(get_le32(image, optional + 8), 0x1000 + sections[2].raw_size + sections[3].raw_size);
    EXPECT_EQ(get_le32(image, optional + 112 + 16), sections[2].rva);
    EXPECT_EQ(get_le32(image, optional + 112 + 16 + 4), sections[2].virtual_size);
    EXPECT_EQ(get_le32(image, coff + 4), 0u);
    EXPECT_EQ(get_le32(image, 0x1100 + 4), 0u) << "debug directory time stamp";
    EXPECT_EQ(plan.checksum_at, optional + 64);

    // The descriptor leads to the block, mapped from the section's start,
    // and to each text with its NUL.
    const size_t descriptor_at = 0x2000;
    EXPECT_EQ(place(image, descriptor_at, 0).offset, sections[3].rva);
    EXPECT_EQ(place(image, descriptor_at, 0).length, block.size());
    EXPECT_EQ(pe_bytes_at(image, sections[3].rva, block.size()), block);
    const std::u16string texts[] = {u"{CACHE_DIR}\\Zo\u00eb\\{VERSION}", u"Zo\u00eb & Co", u"Probe \u2603", u"3.14.159"};
    for (int i = 0; i < 4; ++i) {
        const BuiltinPlace text = place(image, descriptor_at, i + 1);
        EXPECT_EQ(text.offset % 2, 0u);
        EXPECT_EQ(text.length, texts[i].size());
        EXPECT_EQ(pe_bytes_at(image, text.offset, 2 * text.length + 2), utf16(texts[i]) + std::string(2, '\0'));
    }
}

TEST(WindowsImage, ResourceTreeIsSortedAndPointsAtEachResource) {
    ImagePlan plan;
    PlanFault fault;
    std::string reason;
    ASSERT_TRUE(plan_pe_image(windows_stub(), lay_out_builtin_data(0, sample_identity()), sample_resources, 1252,
                              &plan, &fault, &reason));
    const std::string image = whole(plan, "");
    const PeSection rsrc = pe_sections(image)[2];
    const std::string tree = image.substr(rsrc.raw_at, rsrc.virtual_size);
    // type -> name -> language -> data entry
    auto entries = [&](uint32_t directory) {
        std::vector<std::pair<uint32_t, uint32_t>> out;
        EXPECT_EQ(get_le32(tree, directory + 4), 0u) << "time stamp";
        for (size_t i = 0; i < get_le16(tree, directory + 12) + get_le16(tree, directory + 14); ++i)
            out.emplace_back(get_le32(tree, directory + 16 + 8 * i), get_le32(tree, directory + 20 + 8 * i));
        return out;
    };
    std::vector<std::string> found;
    for (auto [type, type_dir] : entries(0)) {
        ASSERT_TRUE(type_dir & 0x80000000u);
        for (auto [id, name_dir] : entries(type_dir & 0x7FFFFFFF)) {
            ASSERT_TRUE(name_dir & 0x80000000u);
            auto languages = entries(name_dir & 0x7FFFFFFF);
            ASSERT_EQ(languages.size(), 1u);
            EXPECT_EQ(languages[0].first, 0u);
            const uint32_t data = languages[0].second;
            EXPECT_EQ(get_le32(tree, data + 8), 1252u);
            const uint32_t rva = get_le32(tree, data);
            EXPECT_EQ(rva % 8, 0u);
            found.push_back(std::to_string(type) + "/" + std::to_string(id) + " " +
                            pe_bytes_at(image, rva, get_le32(tree, data + 4)));
        }
    }
    EXPECT_EQ(found, (std::vector<std::string>{"3/1 icon one", "3/2 icon two", "24/1 <assembly/>"}));
}

TEST(WindowsImage, ChecksumIsTheLoadersOverAnySplitOfTheBytes) {
    std::mt19937 random(5);
    std::string image(70001, '\0');
    for (char& c : image) c = static_cast<char>(random());
    const size_t checksum_at = 0xD8;
    set_le(&image, checksum_at, 0, 4);
    // The usual computation, over 32-bit words with end-around carry.
    uint64_t sum = 0;
    for (size_t i = 0; i < image.size(); i += 4) {
        uint64_t word = 0;
        for (size_t j = 0; j < 4 && i + j < image.size(); ++j) word |= uint64_t(uint8_t(image[i + j])) << (8 * j);
        sum = (sum & 0xFFFFFFFF) + word + (sum >> 32);
    }
    sum = (sum & 0xFFFF) + (sum >> 16);
    sum = (sum + (sum >> 16)) & 0xFFFF;
    const uint32_t expected = static_cast<uint32_t>(sum + image.size());

    for (size_t first : {size_t(1), size_t(4096), size_t(33333)}) {
        ImageChecksum checksum;
        checksum.add(image.data(), first);
        checksum.add(image.data() + first, 3);
        checksum.add(image.data() + first + 3, image.size() - first - 3);
        EXPECT_EQ(checksum.finish(image.size()), expected) << first;
    }
}

struct StubCase {
    const char* what;
    std::function<void(std::string*)> damage;
    const char* reason;
};

using Planner = std::function<bool(const std::string& stub, const BuiltinData&, ImagePlan*, PlanFault*, std::string*)>;

// Each damaged copy of `stub` is refused as a stub fault, with its reason.
template <size_t n>
void expect_refused(const std::string& stub, const StubCase (&cases)[n], const Planner& plan_image) {
    for (const StubCase& c : cases) {
        std::string damaged = stub;
        c.damage(&damaged);
        ImagePlan plan;
        PlanFault fault = PlanFault::too_big;
        std::string reason;
        EXPECT_FALSE(plan_image(damaged, lay_out_builtin_data(10, sample_identity()), &plan, &fault, &reason))
            << c.what;
        EXPECT_EQ(fault, PlanFault::stub) << c.what;
        EXPECT_NE(reason.find(c.reason), std::string::npos) << c.what << ": " << reason;
    }
}

TEST(WindowsImage, DamagedOrForeignStubsAreRefused) {
    const StubCase cases[] = {
        {"not an image", [](std::string* s) { (*s)[0] = 'X'; }, "not a Windows image"},
        {"another machine", [](std::string* s) { set_le(s, coff, 0x14C, 2); }, "not an x86-64 image"},
        {"cut short", [](std::string* s) { s->resize(0x2800); }, "outside the file"},
        {"cut inside the headers", [](std::string* s) { s->resize(0x100); }, "cut off"},
        {"no descriptor section", [](std::string* s) { (*s)[table + 40 + 1] = 'Z'; }, "no .zembra section"},
        {"wrong magic", [](std::string* s) { (*s)[0x2003] ^= 1; }, "no magic"},
        {"filled in", [](std::string* s) { set_le(s, 0x2010, 0x5000, 8); }, "a launcher already"},
        {"512-byte file alignment", [](std::string* s) { set_le(s, optional + 36, 512, 4); }, "aligned"},
        {"no room for two sections", [](std::string* s) { set_le(s, optional + 60, table + 80 + 40, 4); }, "no room"},
        {"resources already", [](std::string* s) { set_le(s, optional + 112 + 20, 8, 4); }, "resources"},
        {"data after the sections", [](std::string* s) { s->append(4096, 'x'); }, "after its last section"},
    };
    expect_refused(windows_stub(), cases, [](const std::string& stub, const BuiltinData& data, ImagePlan* plan,
                                             PlanFault* fault, std::string* reason) {
        return plan_pe_image(stub, data, sample_resources, 1252, plan, fault, reason);
    });
}

TEST(WindowsImage, BlockBeyondThe32BitSizesIsRefused) {
    const uint64_t limit = UINT32_MAX - 0x5000;   // the stub and the resources take the rest
    for (uint64_t size : {limit - 0x10000, limit + 1, uint64_t(5) << 30}) {
        ImagePlan plan;
        PlanFault fault = PlanFault::stub;
        std::string reason;
        const bool fits = plan_pe_image(windows_stub(), lay_out_builtin_data(size, sample_identity()),
                                        sample_resources, 1252, &plan, &fault, &reason);
        EXPECT_EQ(fits, size < limit) << size;
        if (!fits) {
            EXPECT_EQ(fault, PlanFault::too_big);
            EXPECT_NE(reason.find(std::to_string(size) + " bytes"), std::string::npos) << reason;
        }
    }
}

// --- the Linux stub -------------------------------------------------------

struct ProgramHeader {
    uint32_t type;
    uint64_t offset, vaddr, filesz, memsz, align;
};

std::vector<ProgramHeader> program_headers(const std::string& image) {
    std::vector<ProgramHeader> out;
    for (size_t i = 0; i < get_le16(image, 0x38); ++i) {
        const size_t at = get_le64(image, 0x20) + 56 * i;
        out.push_back({get_le32(image, at), get_le64(image, at + 8), get_le64(image, at + 16), get_le64(image, at + 32),
                       get_le64(image, at + 40), get_le64(image, at + 48)});
    }
    return out;
}


// The stub's descriptor, where the written image has it too.
size_t linux_descriptor_at() {
    size_t at = 0;
    std::string reason;
    EXPECT_TRUE(find_empty_descriptor(linux_stub(), 0, linux_stub().size(), &at, &reason)) << reason;
    return at;
}

TEST(LinuxImage, ANoteHeaderBecomesALoadSegmentMappingTheDataAfterTheStubs) {
    ASSERT_GT(linux_stub().size(), 4096u) << LINUX_STUB;
    const std::string block(5000, 'b');
    ImagePlan plan;
    PlanFault fault;
    std::string reason;
    ASSERT_TRUE(plan_elf_image(linux_stub(), lay_out_builtin_data(block.size(), sample_identity()), &plan, &fault,
                               &reason))
        << reason;
    const std::string image = whole(plan, block);
    const std::vector<ProgramHeader> before = program_headers(linux_stub()), after = program_headers(image);
    ASSERT_EQ(before.size(), after.size());
    auto count = [](const std::vector<ProgramHeader>& headers, uint32_t type) {
        return std::count_if(headers.begin(), headers.end(), [type](const ProgramHeader& p) { return p.type == type; });
    };
    EXPECT_EQ(count(after, 1), count(before, 1) + 1);
    EXPECT_EQ(count(after, 4), count(before, 4) - 1);
    EXPECT_EQ(count(after, 0x6474e553), count(before, 0x6474e553));

    // Load segments in ascending order; the new one last, page-aligned in
    // the file and in memory, past everything the stub maps.
    std::vector<ProgramHeader> loads;
    for (const ProgramHeader& p : after)
        if (p.type == 1) loads.push_back(p);
    for (size_t i = 1; i < loads.size(); ++i) EXPECT_GE(loads[i].vaddr, loads[i - 1].vaddr + loads[i - 1].memsz);
    const ProgramHeader& data = loads.back();
    EXPECT_EQ(data.offset % 4096, 0u);
    EXPECT_EQ(data.vaddr % data.align, data.offset % data.align);
    EXPECT_GE(data.offset, linux_stub().size());
    EXPECT_EQ(data.offset + data.filesz, image.size());
    EXPECT_EQ(data.filesz, data.memsz);

    const size_t at = linux_descriptor_at();
    const uint64_t base = loads.front().vaddr;
    EXPECT_EQ(place(image, at, 0).offset, data.vaddr - base);
    EXPECT_EQ(place(image, at, 0).length, block.size());
    EXPECT_EQ(image.substr(data.offset, block.size()), block);
    const BuiltinPlace product = place(image, at, 3);
    EXPECT_EQ(image.substr(data.offset + (product.offset - (data.vaddr - base)), 2 * product.length),
              utf16(u"Probe \u2603"));
}

TEST(LinuxImage, DamagedOrForeignStubsAreRefused) {
    const size_t shstrtab = [] {
        const std::string& s = linux_stub();
        const size_t header = get_le64(s, 0x28) + 64 * get_le16(s, 0x3E);
        return get_le64(s, header + 24);
    }();
    const size_t descriptor = linux_descriptor_at();
    const StubCase cases[] = {
        {"not ELF", [](std::string* s) { (*s)[1] = 'X'; }, "not an ELF program"},
        {"32-bit", [](std::string* s) { (*s)[4] = 1; }, "not an x86-64 program"},
        {"cut short", [](std::string* s) { s->resize(s->size() / 2); }, "cut off"},
        {"no descriptor section",
         [shstrtab](std::string* s) {
             const size_t name = s->find(std::string(".zembra\0", 8), shstrtab);
             (*s)[name + 1] = 'Z';
         },
         "no .zembra section"},
        {"wrong magic", [descriptor](std::string* s) { (*s)[descriptor] ^= 1; }, "no magic"},
        {"filled in", [descriptor](std::string* s) { (*s)[descriptor + 16] = 1; }, "a launcher already"},
        {"no spare note header",
         [](std::string* s) {
             for (size_t i = 0; i < get_le16(*s, 0x38); ++i) {
                 const size_t at = get_le64(*s, 0x20) + 56 * i;
                 if (get_le32(*s, at) == 4) set_le(s, at, 0x6ffffff0, 4);
             }
         },
         "no note header"},
    };
    expect_refused(linux_stub(), cases, plan_elf_image);
}

}  // namespace
