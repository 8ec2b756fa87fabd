// Packing real directories into single-frame blocks, taken apart again with
// zstd's own decoder: layout, entry order, names, sizes, checksums,
// determinism, and files that change while they are packed (in both layouts).
#define ZSTD_STATIC_LINKING_ONLY   // frame header fields
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <zlib.h>

#include "fixture.h"
#include "input_tree.h"
#include "output_file.h"
#include "pack.h"

namespace {

uint32_t crc_of(const std::string& bytes) {
    return static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(bytes.data()), bytes.size()));
}

PackSettings quick_settings(int threads = 1, BlockLayout layout = BlockLayout::single_frame) {
    PackSettings settings;
    settings.compression.level = 3;
    settings.compression.threads = threads;
    settings.compression.layout = layout;
    settings.compression.frame_target = 1;   // a frame per file in an indexed block
    return settings;
}

const BlockLayout both_layouts[] = {BlockLayout::single_frame, BlockLayout::indexed};

TEST(Pack, BlockHoldsEveryFileInOrderWithItsBytesAndChecksum) {
    const std::string zero_crc("\x9d\x0a\xd9\x6d", 4);   // its CRC-32 is 0
    struct File {
        std::string path;
        std::u16string entry_name;
        std::string bytes;
    };
    // In the order the block must list them: directory components compare
    // one by one ("lib" < "lib.d" < "lib2"), bytewise (upper case first,
    // UTF-8 after ASCII), and a directory's own files come first.
    const std::vector<File> files = {
        {"app.exe", u"app.exe", "MZ main program"},
        {"B.txt", u"B.txt", "B"},
        {"a.txt", u"a.txt", "a"},
        {"big.bin", u"big.bin", pseudo_random(300000, 1, 16)},
        {"empty.dat", u"empty.dat", ""},
        {"z.txt", u"z.txt", "z"},
        {"zero-crc.bin", u"zero-crc.bin", zero_crc},
        {"\xC3\xA4.txt", u"\u00e4.txt", "a with diaeresis"},
        {"lib/x.dll", u"lib\\x.dll", "x"},
        {"lib/a-sub/z", u"lib\\a-sub\\z", "z"},
        {"lib/sub/y.dat", u"lib\\sub\\y.dat", "y"},
        {"lib.d/v", u"lib.d\\v", "v"},
        {"lib2/w", u"lib2\\w", "w"},
        {"\xF0\x9F\x98\x80/astral.txt", u"\U0001F600\\astral.txt", "a surrogate pair"},
    };
    ScratchDir in;
    for (size_t i = files.size(); i-- > 0;) in.write(files[i].path, files[i].bytes);

    std::string error;
    DecodedBlock block = decode_block(pack_to_string(in.path(), "", quick_settings(), &error));
    ASSERT_EQ(block.problem, "") << error;
    ASSERT_EQ(block.entries.size(), files.size());
    for (size_t i = 0; i < files.size(); ++i) {
        const DecodedEntry& entry = block.entries[i];
        EXPECT_EQ(entry.name, files[i].entry_name) << "entry " << i;
        EXPECT_EQ(entry.size, files[i].bytes.size()) << files[i].path;
        EXPECT_TRUE(entry.data == files[i].bytes) << files[i].path;
        uint32_t crc = crc_of(files[i].bytes);
        EXPECT_EQ(entry.checksum, crc == 0 ? 1u : crc) << files[i].path;
    }
    EXPECT_EQ(block.entries[4].checksum, 1u) << "empty file";
    EXPECT_EQ(block.entries[6].checksum, 1u) << "data whose CRC-32 is 0";
    EXPECT_EQ(block.after_end_marker, "");
}

TEST(Pack, FramePledgesTheStreamSizeWithinTheLaunchersWindowWithoutChecksum) {
    ScratchDir in;
    in.write("app.exe", "MZ");
    in.write("data.bin", pseudo_random(70000, 4));
    std::string error;
    std::string block = pack_to_string(in.path(), "", quick_settings(), &error);
    ASSERT_GT(block.size(), 9u) << error;
    ZSTD_frameHeader header;
    ASSERT_EQ(ZSTD_getFrameHeader(&header, block.data() + 3, block.size() - 3), 0u);
    // A small stream gets a small window; none is larger than the launcher's limit.
    EXPECT_LE(header.windowSize, 1ull << 17);
    EXPECT_EQ(header.checksumFlag, 0u);
    EXPECT_EQ(header.dictID, 0u);
    ASSERT_NE(header.frameContentSize, ZSTD_CONTENTSIZE_UNKNOWN);
    std::string stream(header.frameContentSize, '\0');
    const size_t frame = ZSTD_findFrameCompressedSize(block.data() + 3, block.size() - 3);
    ASSERT_FALSE(ZSTD_isError(frame));
    EXPECT_EQ(ZSTD_decompress(&stream[0], stream.size(), block.data() + 3, frame), stream.size());
}

TEST(Pack, MainNamedInASubdirectoryComesFirstAndOnlyOnce) {
    ScratchDir in;
    in.write("readme.txt", "r");
    in.write("bin/tool.exe", "MZ");
    in.write("bin/other.dll", "d");
    for (const char* main : {"bin/tool.exe", "bin\\tool.exe", "./bin//tool.exe"}) {
        std::string error;
        DecodedBlock block = decode_block(pack_to_string(in.path(), main, quick_settings(), &error));
        ASSERT_EQ(block.problem, "") << main << ": " << error;
        std::vector<std::u16string> names;
        for (const DecodedEntry& entry : block.entries) names.push_back(entry.name);
        EXPECT_EQ(names, (std::vector<std::u16string>{u"bin\\tool.exe", u"readme.txt", u"bin\\other.dll"})) << main;
    }
}

TEST(Pack, EmptyInputGivesABlockWithOnlyTheEndMarker) {
    ScratchDir in;
    std::string error;
    DecodedBlock block = decode_block(pack_to_string(in.path(), "", quick_settings(), &error));
    ASSERT_EQ(block.problem, "") << error;
    EXPECT_TRUE(block.entries.empty());
}

TEST(Pack, SameBytesWhateverTheWorkerCount) {
    ScratchDir in;
    in.write("app.exe", pseudo_random(4000, 2, 8));
    in.write("data/a.bin", pseudo_random(100000, 3, 4));
    std::string error;
    std::string one = pack_to_string(in.path(), "", quick_settings(1), &error);
    std::string two = pack_to_string(in.path(), "", quick_settings(2), &error);
    ASSERT_FALSE(one.empty()) << error;
    EXPECT_EQ(one, two);

    // Input spread over several compression jobs, so the workers really
    // share the work.
    ScratchDir large;
    large.write("app.exe", pseudo_random(12 << 20, 4, 32));
    PackSettings settings = quick_settings(1);
    settings.compression.level = 1;
    settings.compression.window_log = 20;
    std::string single = pack_to_string(large.path(), "", settings, &error);
    settings.compression.threads = 2;
    std::string dual = pack_to_string(large.path(), "", settings, &error);
    ASSERT_FALSE(single.empty()) << error;
    EXPECT_EQ(single, dual);
    EXPECT_EQ(decode_block(dual).entries.at(0).data, read_file(large / "app.exe"));
}

TEST(Pack, LargeFilesGoThroughAScratchFileWithTheSameResult) {
    ScratchDir in;
    in.write("app.exe", pseudo_random(200000, 5, 64));
    in.write("small.txt", "s");
    std::string error;
    PackSettings settings = quick_settings();
    std::string in_memory = pack_to_string(in.path(), "", settings, &error);
    ScratchDir spill;
    settings.snapshot.memory_limit = 100;
    settings.snapshot.spill_dir = spill.path();
    std::string spilled = pack_to_string(in.path(), "", settings, &error);
    ASSERT_FALSE(spilled.empty()) << error;
    EXPECT_EQ(in_memory, spilled);
    // The scratch file is unlinked as soon as it is made.
    DIR* dir = opendir(spill.path().c_str());
    int items = 0;
    while (dirent* item = readdir(dir)) items += item->d_name[0] != '.';
    closedir(dir);
    EXPECT_EQ(items, 0);
}

// The file list is taken first; a file that differs when it is read must
// stop the pack rather than give an entry whose size or checksum is wrong.
TEST(Pack, FileThatChangesAfterListingFailsThePack) {
    struct Case {
        const char* what;
        void (*change)(const std::string& path);
    };
    const Case cases[] = {
        {"grows", [](const std::string& path) { std::ofstream(path, std::ios::app) << "more"; }},
        {"shrinks", [](const std::string& path) { truncate(path.c_str(), 2); }},
        {"vanishes", [](const std::string& path) { unlink(path.c_str()); }},
    };
    for (BlockLayout layout : both_layouts) {
        for (const Case& c : cases) {
            ScratchDir in;
            in.write("app.exe", "MZ program");
            in.write("data.txt", "0123456789");
            InputTree tree;
            std::string error;
            ASSERT_TRUE(collect_input(in.path(), "", &tree, &error)) << error;
            c.change(in / "data.txt");
            ScratchDir out;
            OutputFile output;
            ASSERT_TRUE(output.create(out / "block.bin", &error));
            EXPECT_FALSE(write_block(tree, quick_settings(2, layout), output.fd(), &error)) << c.what;
            EXPECT_NE(error.find("'data.txt'"), std::string::npos)
                << layout_name(layout) << ", " << c.what << ": " << error;
        }
    }
}

TEST(Pack, FileThatGrowsWhileReadFailsAndLeavesNoOutput) {
    // Files in /proc report a size of 0 and then yield bytes: as if the
    // file grew between the size check and the read.
    ScratchDir in;
    in.write("app.exe", "MZ");
    in.link("status", "/proc/self/status");
    for (BlockLayout layout : both_layouts) {
        ScratchDir out;
        std::string error;
        EXPECT_FALSE(pack_directory(in.path(), "", quick_settings(2, layout), out / "block.bin", &error));
        EXPECT_NE(error.find("'status' changed while it was being packed"), std::string::npos)
            << layout_name(layout) << ": " << error;
        DIR* dir = opendir(out.path().c_str());
        int items = 0;
        while (dirent* item = readdir(dir)) items += std::string(item->d_name) != "." && std::string(item->d_name) != "..";
        closedir(dir);
        EXPECT_EQ(items, 0) << layout_name(layout) << ": no block and no temporary file";
    }
}

}  // namespace
