// Looking into launchers: the image reader over images the packer's own
// writers make (and damaged or cut-short copies of them), the block reader
// over packed and hand-built blocks, the entry name rules, the unpack
// directory told without running, and extract as a command.
#include <gtest/gtest.h>
#include <zlib.h>
#include <zstd.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <map>

#include "block_reader.h"
#include "cli.h"
#include "elf_image.h"
#include "entry_names.h"
#include "entry_stream.h"
#include "fixture.h"
#include "image_plan.h"
#include "image_reader.h"
#include "pe_image.h"
#include "stub_fixture.h"
#include "text_display.h"
#include "unpack_dir.h"
#include "version_block.h"

namespace {

Identity sample_identity() {
    Identity identity;
    identity.unpack_spec = "{CACHE_DIR}\\Zo\xc3\xab\\{VERSION}";
    identity.company = "Zo\xc3\xab & Co";
    identity.product = "Probe \xe2\x98\x83";
    identity.version = "3.14.159";
    return identity;
}

// A whole launcher image around `block`, written as the packer writes one.
std::string launcher_image(ImageKind kind, const std::string& block, const Identity& identity = sample_identity()) {
    const BuiltinData data = lay_out_builtin_data(block.size(), identity);
    ImagePlan plan;
    PlanFault fault;
    std::string reason;
    if (kind == ImageKind::windows_launcher) {
        std::string version;
        EXPECT_TRUE(version_block(identity, &version, &reason)) << reason;
        const std::vector<Resource> resources = {{24, 1, "<assembly/>"}, {16, 1, version}, {3, 1, "icon"}};
        EXPECT_TRUE(plan_pe_image(windows_stub(), data, resources, 1252, &plan, &fault, &reason)) << reason;
    } else {
        EXPECT_TRUE(plan_elf_image(linux_stub(), data, &plan, &fault, &reason)) << reason;
    }
    std::string image = plan.head + block + plan.tail;
    if (plan.checksum_at != 0) {
        ImageChecksum checksum;
        checksum.add(image.data(), image.size());
        set_le(&image, plan.checksum_at, checksum.finish(image.size()), 4);
    }
    return image;
}

std::string small_block() {
    ScratchDir dir;
    dir.write("app.exe", "MZ" + pseudo_random(5000, 1));
    dir.write("lib/x.dll", std::string(3000, 'x'));
    PackSettings settings;
    settings.compression.level = 1;
    std::string error;
    std::string block = pack_to_string(dir.path(), "", settings, &error);
    EXPECT_FALSE(block.empty()) << error;
    return block;
}

bool read(const std::string& image, ImageContents* contents, std::string* error) {
    return read_image(reinterpret_cast<const unsigned char*>(image.data()), image.size(), contents, error);
}

// --- the image ---------------------------------------------------------------

TEST(ImageReader, FindsTheBlockAndTheTextsInLaunchersOfBothSystemsAndInABlockFile) {
    const std::string block = small_block();
    const Identity identity = sample_identity();
    for (ImageKind kind : {ImageKind::windows_launcher, ImageKind::linux_launcher}) {
        const std::string image = launcher_image(kind, block);
        ImageContents contents;
        std::string error;
        ASSERT_TRUE(read(image, &contents, &error)) << error;
        EXPECT_EQ(contents.kind, kind);
        EXPECT_EQ(contents.block_size, block.size());
        EXPECT_EQ(image.substr(contents.block_offset, contents.block_size), block);
        EXPECT_EQ(contents.unpack_spec, identity.unpack_spec);
        EXPECT_EQ(contents.company, identity.company);
        EXPECT_EQ(contents.product, identity.product);
        EXPECT_EQ(contents.version, identity.version);
        const MemoryBytes bytes(image.data(), image.size());
        EXPECT_TRUE(check_image_checksum(bytes, contents, &error)) << error;
        if (kind == ImageKind::windows_launcher) {
            EXPECT_EQ(version_string(contents.version_strings, "CompanyName"), identity.company);
            EXPECT_EQ(version_string(contents.version_strings, "FileVersion"), identity.version + ".0");
            EXPECT_EQ(version_string(contents.version_strings, "OriginalFilename"), identity.original_filename);
        }
    }
    ImageContents contents;
    std::string error;
    ASSERT_TRUE(read(block, &contents, &error)) << error;
    EXPECT_EQ(contents.kind, ImageKind::bare_block);
    EXPECT_EQ(contents.block_offset, 0u);
    EXPECT_EQ(contents.block_size, block.size());
}

struct Damage {
    const char* what;
    std::function<void(std::string&)> change;
    const char* reason;
};

void expect_refused(const std::string& image, const std::vector<Damage>& cases) {
    for (const Damage& c : cases) {
        std::string damaged = image;
        c.change(damaged);
        ImageContents contents;
        std::string error;
        EXPECT_FALSE(read(damaged, &contents, &error)) << c.what;
        EXPECT_NE(error.find(c.reason), std::string::npos) << c.what << ": " << error;
        EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    }
}

// The file offset of the descriptor's place `index` (0 the block, 1 the
// unpack spec) in a Windows image written from windows_stub.
uint64_t pe_place_at(const std::string& image, int index) {
    const uint64_t rva = get_le64(image, 0x2000 + 16 + 16 * index);
    const size_t attach = table + 40 * 3;
    return rva - get_le32(image, attach + 12) + get_le32(image, attach + 20);
}

TEST(ImageReader, DamagedOrCutShortWindowsImagesAreRefusedWithTheirReason) {
    const std::string image = launcher_image(ImageKind::windows_launcher, small_block());
    const size_t rsrc = table + 40 * 2, attach = table + 40 * 3;
    const size_t descriptor = 0x2000;
    expect_refused(image, {
        {"cut inside the headers", [](std::string& s) { s.resize(40); }, "cut short inside its headers"},
        {"cut inside the resources", [&](std::string& s) { s.resize(get_le32(s, rsrc + 20) + 100); },
         "its section .rsrc ends at file byte"},
        {"cut inside the block", [](std::string& s) { s.resize(s.size() - 5000); }, "is cut short"},
        {"no PE signature", [](std::string& s) { s[0x41] = 'X'; }, "not a Windows x86-64 program"},
        {"another machine", [](std::string& s) { set_le(&s, coff, 0x14C, 2); }, "not a Windows x86-64 program"},
        {"file alignment", [](std::string& s) { set_le(&s, optional + 36, 512, 4); }, "not aligned to 4096"},
        {"image size", [](std::string& s) { set_le(&s, optional + 56, get_le32(s, optional + 56) + 0x1000, 4); },
         "its SizeOfImage is"},
        {"overlapping sections", [&](std::string& s) { set_le(&s, attach + 12, get_le32(s, rsrc + 12), 4); },
         "overlap"},
        {"no descriptor section", [](std::string& s) { s[table + 40 + 6] = 'x'; }, "it has no .zembra section"},
        {"no descriptor", [&](std::string& s) { s[descriptor] ^= 1; }, "holds no descriptor"},
        {"an empty descriptor", [&](std::string& s) { s.replace(descriptor + 16, 80, 80, '\0'); },
         "launcher stub: nothing is attached"},
        {"the block outside", [&](std::string& s) { set_le(&s, descriptor + 24, 1ull << 40, 8); },
         "puts the attached data"},
        {"a text outside", [&](std::string& s) { set_le(&s, descriptor + 40, 1ull << 20, 8); },
         "unpack spec text lies outside"},
        {"a text without its 0", [&](std::string& s) {
             set_le(&s, pe_place_at(s, 1) + 2 * get_le64(s, descriptor + 40), 'x', 2);
         }, "unpack spec text has no terminating 0"},
        {"no resources", [](std::string& s) { set_le(&s, optional + 112 + 16 + 4, 0, 4); }, "it has no resources"},
        {"a resource tree outside", [&](std::string& s) { set_le(&s, get_le32(s, rsrc + 20) + 14, 0xFFFF, 2); },
         "points outside its section"},
    });
}

TEST(ImageReader, DamagedOrCutShortLinuxImagesAndOtherFilesAreRefused) {
    const std::string image = launcher_image(ImageKind::linux_launcher, small_block());
    const size_t names = image.find(std::string(".zembra\0", 8));
    ASSERT_NE(names, std::string::npos);
    size_t descriptor = 0;
    std::string reason;
    ASSERT_TRUE(find_empty_descriptor(linux_stub(), 0, linux_stub().size(), &descriptor, &reason)) << reason;
    expect_refused(image, {
        {"cut inside the header", [](std::string& s) { s.resize(30); }, "cut short inside its ELF header"},
        {"cut inside the block", [](std::string& s) { s.resize(s.size() - 3000); }, "is cut short"},
        {"another machine", [](std::string& s) { set_le(&s, 0x12, 3, 2); }, "not an x86-64 program"},
        {"no descriptor section", [&](std::string& s) { s[names + 1] = 'Z'; }, "it has no .zembra section"},
        {"an empty descriptor", [&](std::string& s) { s.replace(descriptor + 16, 80, 80, '\0'); },
         "Linux launcher stub"},
        {"the block outside", [&](std::string& s) { set_le(&s, descriptor + 16, 1ull << 40, 8); },
         "puts the attached data"},
    });
    expect_refused("", {{"an empty file", [](std::string&) {}, "it is empty"},
                        {"text", [](std::string& s) { s = "hello, world"; }, "not a zembra launcher or block"}});
}

TEST(ImageReader, AChangedByteOutsideTheBlockBreaksOnlyTheWindowsChecksum) {
    std::string image = launcher_image(ImageKind::windows_launcher, small_block());
    image[0x1010] ^= 0x20;   // inside .text
    ImageContents contents;
    std::string error;
    ASSERT_TRUE(read(image, &contents, &error)) << error;
    EXPECT_FALSE(check_image_checksum(MemoryBytes(image.data(), image.size()), contents, &error));
    EXPECT_NE(error.find("its header checksum at file byte " + std::to_string(optional + 64)), std::string::npos)
        << error;
}

// --- the block -------------------------------------------------------------

// What a walk met: every entry with its data.
class Collect : public EntrySink {
public:
    bool begin(const WalkedEntry& entry, std::string*) override {
        entries.push_back({entry.name, entry.size, entry.stored, ""});
        return true;
    }
    bool data(const unsigned char* bytes, size_t count, std::string*) override {
        entries.back().data.append(reinterpret_cast<const char*>(bytes), count);
        return true;
    }
    std::vector<DecodedEntry> entries;
};

bool walk(const std::string& block, EntrySink& sink, BlockProblem* problem, WalkSummary* summary = nullptr,
          BlockShape* shape_out = nullptr) {
    const MemoryBytes bytes(block.data(), block.size());
    BlockShape shape;
    WalkSummary ignored;
    if (!read_block_shape(bytes, 0, block.size(), &shape, problem)) return false;
    if (shape_out != nullptr) *shape_out = shape;
    return walk_block(bytes, 0, shape, WalkChecks{}, sink, summary != nullptr ? summary : &ignored, problem);
}

TEST(BlockReader, WalksBothLayoutsAsThePackerWroteThem) {
    ScratchDir dir;
    const std::map<std::string, std::string> files = {
        {"app.exe", "MZ" + pseudo_random(300000, 2)},
        {"empty", ""},
        {"lib/a.dll", pseudo_random(2 << 20, 3)},
        {"lib/b.txt", pseudo_random(1500000, 4, 3)},
    };
    for (const auto& file : files) dir.write(file.first, file.second);
    for (BlockLayout layout : {BlockLayout::single_frame, BlockLayout::indexed}) {
        PackSettings settings;
        settings.compression.level = 1;
        settings.compression.layout = layout;
        settings.compression.frame_target = 1 << 20;
        std::string error;
        const std::string block = pack_to_string(dir.path(), "", settings, &error);
        ASSERT_FALSE(block.empty()) << error;
        Collect collect;
        BlockProblem problem;
        WalkSummary summary;
        BlockShape shape;
        ASSERT_TRUE(walk(block, collect, &problem, &summary, &shape)) << describe(problem, 0);
        EXPECT_EQ(shape.layout, layout);
        if (layout == BlockLayout::indexed) EXPECT_EQ(shape.frames.size(), 2u);
        const std::vector<std::u16string> order = {u"app.exe", u"empty", u"lib\\a.dll", u"lib\\b.txt"};
        ASSERT_EQ(collect.entries.size(), order.size());
        uint64_t bytes = 0;
        for (size_t i = 0; i < order.size(); ++i) {
            EXPECT_EQ(collect.entries[i].name, order[i]);
            std::string relative(order[i].begin(), order[i].end());
            if (relative.find('\\') != std::string::npos) relative[relative.find('\\')] = '/';
            EXPECT_EQ(collect.entries[i].data, files.at(relative)) << relative;
            bytes += collect.entries[i].data.size();
        }
        EXPECT_EQ(summary.files, 4u);
        EXPECT_EQ(summary.bytes, bytes);
    }
}

// Hand-built blocks, to damage in ways the packer never writes.
std::string stream_of(const std::vector<DecodedEntry>& entries, bool end = true) {
    std::string stream;
    for (const DecodedEntry& entry : entries) {
        const std::vector<unsigned char> header = entry_header(entry.name, entry.size, entry.checksum);
        stream.append(header.begin(), header.end());
        stream += entry.data;
    }
    if (end) stream.append(end_marker_bytes, '\0');
    return stream;
}

DecodedEntry entry(const std::u16string& name, const std::string& data) {
    return {name, data.size(), stored_checksum(static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(data.data()),
                                                                               static_cast<uInt>(data.size())))),
            data};
}

// One frame with no content size in its header, so that it has a window
// descriptor, as the packer's single frame has.
std::string frame_of(const std::string& content) {
    ZSTD_CCtx* context = ZSTD_createCCtx();
    ZSTD_CCtx_setParameter(context, ZSTD_c_contentSizeFlag, 0);
    std::string frame(ZSTD_compressBound(content.size()), '\0');
    const size_t size = ZSTD_compress2(context, frame.data(), frame.size(), content.data(), content.size());
    ZSTD_freeCCtx(context);
    EXPECT_FALSE(ZSTD_isError(size));
    frame.resize(size);
    return frame;
}

std::string magic() { return std::string(reinterpret_cast<const char*>(block_magic), block_magic_size); }

std::string ending(uint64_t written) {
    std::string text(padding_bytes(written) + trailer_bytes, '\0');
    set_le(&text, text.size() - trailer_bytes, trailer_offset(written), trailer_bytes);
    return text;
}

std::string single_frame_block(const std::string& stream) {
    const std::string body = magic() + frame_of(stream);
    return body + ending(body.size());
}

// An indexed block of one frame whose index `change` may alter first.
std::string indexed_block(const std::vector<DecodedEntry>& entries,
                          const std::function<void(std::vector<IndexedFrame>&, std::vector<IndexedEntry>&)>& change = {}) {
    const std::string content = stream_of(entries);
    std::string frame(ZSTD_compressBound(content.size()), '\0');
    frame.resize(ZSTD_compress(frame.data(), frame.size(), content.data(), content.size(), 1));
    std::vector<IndexedEntry> listed;
    uint64_t offset = 0;
    for (const DecodedEntry& e : entries) {
        listed.push_back({0, offset, e.size, e.checksum, e.name});
        offset += entry_header_bytes(e.name.size()) + e.size;
    }
    std::vector<IndexedFrame> frames = {{0, frame.size(), content.size()}};
    frames[0].block_offset = block_magic_size + index_frame(frames, listed).size();
    if (change) change(frames, listed);
    const std::vector<unsigned char> index = index_frame(frames, listed);
    const std::string body = magic() + std::string(index.begin(), index.end()) + frame;
    return body + ending(body.size());
}

const std::string some_data = pseudo_random(40000, 5);
const std::vector<DecodedEntry> good = {entry(u"app.exe", "MZ"), entry(u"a.txt", some_data), entry(u"b.txt", "bbb")};

TEST(BlockReader, EachDamageIsFoundAndToldWithTheEntryItIsIn) {
    struct Case {
        const char* what;
        std::string block;
        const char* problem;
        std::u16string entry;   // empty: none named
    };
    std::vector<DecodedEntry> wrong_checksum = good, zero_checksum = good;
    wrong_checksum[2].checksum ^= 1;
    zero_checksum[1].checksum = 0;
    const std::string single = single_frame_block(stream_of(good));
    std::string bad_trailer = single, bad_padding = single, window_28 = single;
    bad_trailer[bad_trailer.size() - 1] = 1;
    // The frame header: magic, descriptor, then the window descriptor.
    window_28[block_magic_size + 5] = static_cast<char>((28 - 10) << 3);
    std::string padded;   // a block with some padding, to spoil
    for (size_t extra = 0; padded.empty(); ++extra) {
        std::vector<DecodedEntry> entries = good;
        entries[2] = entry(u"b.txt", std::string(extra, 'b'));
        const std::string body = magic() + frame_of(stream_of(entries));
        if (padding_bytes(body.size()) == 0) continue;
        padded = body + ending(body.size());
        padded[body.size()] = 7;
    }
    std::string flipped = indexed_block(good);
    flipped[flipped.find(some_data.substr(20000, 64)) + 10] ^= 0x10;   // inside a.txt's data, stored as it is
    const std::u16string long_name(max_entry_name_units + 1, u'n');
    const Case cases[] = {
        {"a wrong checksum", single_frame_block(stream_of(wrong_checksum)), "does not match its stored checksum", u"b.txt"},
        {"a stored 0", single_frame_block(stream_of(zero_checksum)), "does not match its stored checksum", u"a.txt"},
        {"a flipped data byte", flipped, "does not match its stored checksum", u"a.txt"},
        {"bytes after the end marker", single_frame_block(stream_of(good) + "more"), "goes on after its end marker", u""},
        {"no end marker", single_frame_block(stream_of(good, false)), "ends without its end marker", u""},
        {"a name too long", single_frame_block(stream_of({entry(long_name, "x")})), "runs past 1023 units", u""},
        {"a trailer", bad_trailer, "the trailer holds", u""},
        {"padding", padded, "the padding after the frames is not zero", u""},
        {"bytes after the trailer", single + std::string(8, '\0'), "so the block should be", u""},
        {"cut short", single.substr(0, single.size() / 2), "cut short", u"a.txt"},
        {"a window of 2^28", window_28, "a window above 2^27", u""},
        {"no magic", "QVX" + single.substr(3), "does not begin with its magic", u""},
        {"an index naming another file",
         indexed_block(good, [](auto&, auto& entries) { entries[1].name = u"a.txU"; }), "the index lists 'a.txU'",
         u"a.txt"},
        {"an index with another checksum",
         indexed_block(good, [](auto&, auto& entries) { entries[2].checksum ^= 4; }), "the index gives it 3 bytes",
         u"b.txt"},
        {"an index listing a frame short",
         indexed_block(good, [](auto& frames, auto&) { frames[0].compressed_size -= 1; }),
         "does not end where its index record says", u""},
    };
    for (const Case& c : cases) {
        Collect collect;
        BlockProblem problem;
        EXPECT_FALSE(walk(c.block, collect, &problem)) << c.what;
        EXPECT_NE(problem.what.find(c.problem), std::string::npos) << c.what << ": " << describe(problem, 0);
        EXPECT_EQ(problem.in_entry, !c.entry.empty()) << c.what << ": " << describe(problem, 0);
        EXPECT_EQ(problem.entry, c.entry) << c.what << ": " << describe(problem, 0);
    }

    // A damaged index is found before anything is decoded.
    std::string index_damaged = indexed_block(good);
    index_damaged[block_magic_size + index_frame_header_size + 20] ^= 1;
    BlockShape shape;
    BlockProblem problem;
    EXPECT_FALSE(read_block_shape(MemoryBytes(index_damaged.data(), index_damaged.size()), 0, index_damaged.size(),
                                  &shape, &problem));
    EXPECT_EQ(describe(problem, 0), "block byte 11: the index is damaged: its checksum does not hold");
    EXPECT_EQ(describe(problem, 4096), "block byte 11 (file byte 4107): the index is damaged: its checksum does not hold");
}

// --- names and where a launcher unpacks --------------------------------------

TEST(EntryNames, OnlyNamesThatStayBelowTheDirectoryPass) {
    for (const std::u16string& name : {std::u16string(u"app.exe"), std::u16string(u"lib\\x.dll"),
                                       std::u16string(u"\u65e5\u672c\\\u00fc.txt"), std::u16string(u"a\\.hidden"),
                                       std::u16string(u"\U0001F600.txt"), std::u16string(u"..dots")}) {
        EXPECT_EQ(entry_name_problem(name), "") << display_name(name);
    }
    const struct {
        std::u16string name;
        const char* problem;
    } bad[] = {
        {u"a/b", "forward slash"},          {u"\\abs", "is absolute"},         {u"C:x", "names a drive"},
        {u"C:\\x", "names a drive"},        {u"..\\evil", "'..' component"},   {u"a\\..\\..\\b", "'..' component"},
        {u".\\a", "'.' component"},         {u"a\\\\b", "empty component"},     {u"a\\", "empty component"},
        {u"CON", "device name"},            {u"lib\\lpt1.txt", "device name"}, {u"ab:c", "character Windows"},
        {u"what?", "character Windows"},    {u"trail.", "ends in a dot"},      {u"x\xD800y", "unpaired surrogate"},
        {std::u16string(1024, u'n'), "longer than 1023"},
    };
    for (const auto& c : bad) {
        EXPECT_NE(entry_name_problem(c.name).find(c.problem), std::string::npos)
            << display_name(c.name) << ": " << entry_name_problem(c.name);
    }
    EXPECT_EQ(display_name(u"lib\\x\xD800.dll"), "lib/x\\uD800.dll");
}

TEST(UnpackDir, TheSpecIsExpandedAsTheLauncherExpandsItOrShownAsWritten) {
    // The folders a Linux launcher would find, set for this test only.
    const struct {
        const char* name;
        const char* value;
    } folders[] = {{"XDG_CACHE_HOME", "/cache/"}, {"HOME", "/home/u"}, {"TMPDIR", "/t//"}};
    std::vector<std::pair<std::string, const char*>> saved;
    for (const auto& folder : folders) {
        const char* before = std::getenv(folder.name);
        saved.emplace_back(folder.name, before != nullptr ? strdup(before) : nullptr);
        setenv(folder.name, folder.value, 1);
    }
    SpecValues windows{"Acme", "Rocket", "2.3.4", '\\', false, "/x/App.exe"};
    SpecValues here{"Acme", "Rocket", "2.3.4", '/', true, "/apps/Tool.EXE"};
    const struct {
        const char* spec;
        const SpecValues& values;
        const char* path;
        bool kept;
        const char* problem;
    } cases[] = {
        {"{CACHE_DIR}\\{PRODUCT}\\{VERSION}", windows, "{CACHE_DIR}\\Rocket\\2.3.4", true, ""},
        {"{cache_dir}/{COMPANY}/{FILE_VERSION}", here, "/cache/Acme/2.3.4", false, ""},
        {"{TEMP}/{PID}-{random}", here, "/t/{PID}-{random}", true, ""},
        {"{HOME}/.{AB{PRODUCT}", here, "/home/u/.Rocket", false, ""},
        {"{PROGRAM_BASE}.d/{PROGRAM_DIR}", here, "/apps/Tool.d//apps", false, ""},
        {"/opt/x{TEM", here, "/opt/x", false, ""},
        {"/opt/}x", here, "/opt/}x", false, ""},
        {"{NOPE}\\x", windows, "", false, "{NOPE} is not a placeholder"},
        {"{}", here, "", false, "{} is not a placeholder"},
        // a name read from a damaged launcher: the message stays on one line
        {"{A\nB}\\x", windows, "", false, "{A\\x0AB} is not a placeholder"},
        {"", here, "", false, "the unpack spec is empty"},
        {"{TEM", here, "", false, "expands to nothing"},
    };
    for (const auto& c : cases) {
        const UnpackDir dir = expand_unpack_spec(c.spec, c.values);
        if (*c.problem != 0) {
            EXPECT_NE(dir.problem.find(c.problem), std::string::npos) << c.spec << ": " << dir.problem;
            continue;
        }
        EXPECT_EQ(dir.problem, "") << c.spec;
        EXPECT_EQ(dir.path, c.path) << c.spec;
        EXPECT_EQ(dir.kept, c.kept) << c.spec;
    }
    for (const auto& variable : saved) {
        if (variable.second != nullptr) setenv(variable.first.c_str(), variable.second, 1);
        else unsetenv(variable.first.c_str());
        std::free(const_cast<char*>(variable.second));
    }
}

// --- extract ---------------------------------------------------------------

// Runs the packer as a program; its standard error is kept in `err`.
int packer(std::vector<std::string> args, std::string* err = nullptr) {
    args.insert(args.begin(), "zembra");
    std::vector<const char*> argv;
    for (const std::string& arg : args) argv.push_back(arg.c_str());
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    const int status = packer_main(static_cast<int>(argv.size()), argv.data());
    testing::internal::GetCapturedStdout();
    const std::string captured = testing::internal::GetCapturedStderr();
    if (err != nullptr) *err = captured;
    return status;
}

mode_t mode_of(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

ino_t inode_of(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 ? info.st_ino : 0;
}

TEST(Extract, NamesThatWouldEscapeAreRefusedBeforeAnythingIsWritten) {
    for (const std::u16string& bad : {std::u16string(u"..\\evil.txt"), std::u16string(u"lib/evil.txt"),
                                      std::u16string(u"C:\\evil.txt"), std::u16string(u"\\evil.txt"),
                                      std::u16string(u"lib\\NUL"), std::u16string(u"x\xDC00")}) {
        for (bool indexed : {false, true}) {
            ScratchDir scratch;
            const std::vector<DecodedEntry> entries = {entry(u"app.exe", "MZ"), entry(u"lib\\ok.dll", "ok"),
                                                       entry(bad, "evil")};
            scratch.write("block.bin", indexed ? indexed_block(entries) : single_frame_block(stream_of(entries)));
            std::string err;
            EXPECT_EQ(packer({"extract", scratch / "block.bin", "-o", scratch / "out"}, &err), 1);
            EXPECT_NE(err.find("cannot be extracted: its name"), std::string::npos) << err;
            EXPECT_NE(err.find("nothing was written"), std::string::npos) << err;
            EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
            EXPECT_FALSE(exists(scratch / "out")) << display_name(bad);
        }
    }
}

TEST(Extract, WritesTheTreeLeavesMatchingFilesAloneAndGivesProgramsTheirMode) {
    ScratchDir input, scratch;
    input.write("app.exe", "MZ program");
    input.write("bin/tool", "\x7f" "ELF and more");
    input.write("bin/run.sh", "#!/bin/sh\n");
    input.write("share/data.txt", "data");
    input.write("share/empty", "");
    const mode_t mask = umask(022);
    for (const char* layout : {"single-frame", "indexed"}) {
        const std::string block = scratch / (std::string(layout) + ".bin"), out = scratch / layout;
        ASSERT_EQ(packer({"pack", input.path(), "-o", block, "--layout", layout, "--level", "1"}), 0);
        ASSERT_EQ(packer({"extract", block, "-o", out}), 0);
        for (const char* name : {"app.exe", "bin/tool", "bin/run.sh", "share/data.txt", "share/empty"})
            EXPECT_EQ(read_file(out + "/" + name), read_file(input / name)) << name;
        EXPECT_EQ(mode_of(out + "/bin/tool"), 0755u);
        EXPECT_EQ(mode_of(out + "/bin/run.sh"), 0755u);
        EXPECT_EQ(mode_of(out + "/app.exe"), 0644u);

        // Again: a file in place is not rewritten; a changed one is.
        const ino_t kept = inode_of(out + "/bin/tool");
        std::ofstream(out + "/share/data.txt") << "changed";
        ASSERT_EQ(packer({"extract", block, "-o", out}), 0);
        EXPECT_EQ(inode_of(out + "/bin/tool"), kept);
        EXPECT_EQ(read_file(out + "/share/data.txt"), "data");

        // A directory where a file belongs stops it before anything is written.
        const std::string other = scratch / (std::string(layout) + "-other");
        ASSERT_EQ(::mkdir(other.c_str(), 0755), 0);
        ASSERT_EQ(::mkdir((other + "/app.exe").c_str(), 0755), 0);
        std::string err;
        EXPECT_EQ(packer({"extract", block, "-o", other}, &err), 1);
        EXPECT_NE(err.find("is a directory, where entry 'app.exe' is a file; nothing was written"), std::string::npos)
            << err;
        EXPECT_FALSE(exists(other + "/bin"));
    }
    umask(mask);
}

TEST(Extract, ADamagedBlockStopsWithTheFilesWrittenBeforeItWhole) {
    ScratchDir scratch;
    // Two frames: app.exe in the first, a.txt (damaged) in the second.
    const std::vector<DecodedEntry> entries = {entry(u"app.exe", "MZ whole"), entry(u"a.txt", some_data)};
    std::vector<std::string> contents = {stream_of({entries[0]}, false), stream_of({entries[1]})};
    std::vector<std::string> frames;
    for (const std::string& content : contents) {
        std::string frame(ZSTD_compressBound(content.size()), '\0');
        frame.resize(ZSTD_compress(frame.data(), frame.size(), content.data(), content.size(), 1));
        frames.push_back(frame);
    }
    std::vector<IndexedEntry> listed = {{0, 0, entries[0].size, entries[0].checksum, entries[0].name},
                                        {1, 0, entries[1].size, entries[1].checksum, entries[1].name}};
    std::vector<IndexedFrame> records = {{0, frames[0].size(), contents[0].size()},
                                         {0, frames[1].size(), contents[1].size()}};
    const uint64_t first = block_magic_size + index_frame(records, listed).size();
    records[0].block_offset = first;
    records[1].block_offset = first + frames[0].size();
    const std::vector<unsigned char> index = index_frame(records, listed);
    std::string body = magic() + std::string(index.begin(), index.end()) + frames[0] + frames[1];
    body[body.find(some_data.substr(30000, 64))] ^= 1;
    scratch.write("block.bin", body + ending(body.size()));

    std::string err;
    EXPECT_EQ(packer({"extract", scratch / "block.bin", "-o", scratch / "out"}, &err), 1);
    EXPECT_NE(err.find("entry 'a.txt' at block byte"), std::string::npos) << err;
    EXPECT_NE(err.find("does not match its stored checksum (stored "), std::string::npos) << err;
    EXPECT_NE(err.find("); 1 file written before it is whole\n"), std::string::npos)
        << err;
    EXPECT_EQ(read_file(scratch / "out/app.exe"), "MZ whole");
    InputTree left;
    ASSERT_TRUE(collect_input(scratch / "out", "app.exe", &left, &err)) << err;
    EXPECT_EQ(relatives(left), std::vector<std::string>{"app.exe"}) << "no half-written file, no temporary file";
}

}  // namespace
