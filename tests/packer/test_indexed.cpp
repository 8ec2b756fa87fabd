// Indexed blocks: where the entry stream is cut into frames, and an index
// that agrees with the frames and with the stream it lists.
#define ZSTD_STATIC_LINKING_ONLY   // frame header fields
#include <gtest/gtest.h>

#include "entry_stream.h"
#include "fixture.h"
#include "frame_plan.h"
#include "pack.h"

namespace {

PackSettings indexed_settings(uint64_t frame_target, int threads = 1) {
    PackSettings settings;
    settings.compression.level = 3;
    settings.compression.threads = threads;
    settings.compression.layout = BlockLayout::indexed;
    settings.compression.frame_target = frame_target;
    return settings;
}

// The bytes one entry takes in the stream.
std::string record(const DecodedEntry& entry) {
    std::string bytes;
    for (char16_t unit : entry.name) {
        bytes.push_back(static_cast<char>(unit & 0xff));
        bytes.push_back(static_cast<char>(unit >> 8));
    }
    bytes.append(2, '\0');
    for (int i = 0; i < 8; ++i) bytes.push_back(static_cast<char>(entry.size >> (8 * i)));
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<char>(entry.checksum >> (8 * i)));
    bytes.append(entry.data);
    return bytes;
}

TEST(FramePlan, AFrameClosesAtTheFirstEntryBoundaryAtOrPastTheTarget) {
    // Names of one unit: an entry takes 16 bytes before its data.
    struct Case {
        const char* what;
        std::vector<uint64_t> sizes;
        uint64_t target;
        std::vector<size_t> frame_ends;   // one past each frame's last entry
    };
    const Case cases[] = {
        {"one file", {100}, 1000, {1}},
        {"all below the target", {10, 20, 30}, 1000, {3}},
        {"exactly at the target", {84, 10}, 100, {1, 2}},
        {"one byte short", {83, 10, 10}, 100, {2, 3}},
        {"a file larger than the target ends the frame it starts in", {10, 5000, 10}, 100, {2, 3}},
        {"the last entry stays with the end marker", {200, 200}, 100, {1, 2}},
        {"no file", {}, 100, {0}},
    };
    for (const Case& c : cases) {
        InputFile one;
        one.entry_name = u"f";
        std::vector<InputFile> files(c.sizes.size(), one);
        for (size_t i = 0; i < files.size(); ++i) files[i].size = c.sizes[i];
        FramePlan plan = plan_frames(files, c.target);
        ASSERT_EQ(plan.frames.size(), c.frame_ends.size()) << c.what;
        ASSERT_EQ(plan.entries.size(), files.size()) << c.what;
        size_t first = 0;
        for (size_t f = 0; f < plan.frames.size(); ++f) {
            const PlannedFrame& frame = plan.frames[f];
            EXPECT_EQ(frame.first_entry, first) << c.what << ", frame " << f;
            EXPECT_EQ(frame.end_entry, c.frame_ends[f]) << c.what << ", frame " << f;
            uint64_t offset = 0;
            for (size_t i = frame.first_entry; i < frame.end_entry; ++i) {
                EXPECT_EQ(plan.entries[i].frame, f) << c.what << ", entry " << i;
                EXPECT_EQ(plan.entries[i].offset, offset) << c.what << ", entry " << i;
                offset += 16 + c.sizes[i];
            }
            if (f + 1 == plan.frames.size()) offset += 2;   // the end marker
            EXPECT_EQ(frame.content_size, offset) << c.what << ", frame " << f;
            first = frame.end_entry;
        }
    }
}

TEST(IndexedBlock, FramesHoldTheSameStreamAndTheIndexSaysWhereEachEntryIs) {
    ScratchDir in;
    in.write("app.exe", "MZ" + pseudo_random(3000, 1, 16));
    in.write("empty.dat", "");
    in.write("zero-crc.bin", std::string("\x9d\x0a\xd9\x6d", 4));
    in.write("big.bin", pseudo_random(80000, 2, 8));   // larger than a frame, and spilled
    for (int i = 0; i < 12; ++i) in.write("lib/part" + std::to_string(i) + ".dll", pseudo_random(4000 + 900 * i, 10 + i, 4));
    in.write("donn\xC3\xA9" "es/caf\xC3\xA9.txt", "non-ASCII names");
    PackSettings settings = indexed_settings(20000);
    ScratchDir spill;
    settings.snapshot.memory_limit = 50000;
    settings.snapshot.spill_dir = spill.path();
    std::string error;
    std::string block = pack_to_string(in.path(), "", settings, &error);
    ASSERT_FALSE(block.empty()) << error;
    settings.compression.threads = 3;
    EXPECT_EQ(pack_to_string(in.path(), "", settings, &error), block) << "the thread count must not change the block";

    DecodedIndexedBlock indexed = decode_indexed_block(block);
    ASSERT_EQ(indexed.problem, "");
    ASSERT_EQ(indexed.stream.problem, "");
    EXPECT_GE(indexed.frames.size(), 4u);
    EXPECT_EQ(indexed.stream.after_end_marker, "");

    // The same entry stream as the single-frame block, byte for byte.
    settings.compression.layout = BlockLayout::single_frame;
    DecodedBlock single = decode_block(pack_to_string(in.path(), "", settings, &error));
    ASSERT_EQ(single.problem, "") << error;
    std::string single_stream, indexed_stream;
    for (const DecodedEntry& entry : single.entries) single_stream += record(entry);
    for (const std::string& content : indexed.contents) indexed_stream += content;
    single_stream.append(2, '\0');   // the end marker
    EXPECT_TRUE(indexed_stream == single_stream);

    // Each entry listed in stream order, in the frame that holds it, where
    // its name starts; each frame made of whole entries.
    const std::vector<DecodedEntry>& entries = indexed.stream.entries;
    ASSERT_EQ(indexed.index.size(), entries.size());
    std::vector<std::string> rebuilt(indexed.frames.size());
    for (size_t i = 0; i < entries.size(); ++i) {
        const IndexedEntry& listed = indexed.index[i];
        EXPECT_EQ(listed.name, entries[i].name) << "entry " << i;
        EXPECT_EQ(listed.size, entries[i].size) << "entry " << i;
        EXPECT_EQ(listed.checksum, entries[i].checksum) << "entry " << i;
        ASSERT_LT(listed.frame, rebuilt.size()) << "entry " << i;
        ASSERT_TRUE(i == 0 || listed.frame >= indexed.index[i - 1].frame) << "entry " << i;
        EXPECT_EQ(listed.offset, rebuilt[listed.frame].size()) << "entry " << i;
        rebuilt[listed.frame] += record(entries[i]);
    }
    rebuilt.back().append(2, '\0');
    for (size_t f = 0; f < rebuilt.size(); ++f) EXPECT_TRUE(rebuilt[f] == indexed.contents[f]) << "frame " << f;
}

TEST(IndexedBlock, EachFrameNeedsNoMoreWindowThanItsContentOrTheWindowLogAllows) {
    ScratchDir in;
    in.write("app.exe", pseudo_random(300000, 3, 16));
    in.write("small.txt", "s");
    std::string error;
    for (int window_log : {27, 12}) {
        PackSettings settings = indexed_settings(1);
        settings.compression.window_log = window_log;
        std::string block = pack_to_string(in.path(), "", settings, &error);
        DecodedIndexedBlock indexed = decode_indexed_block(block);
        ASSERT_EQ(indexed.problem, "") << error;
        ASSERT_EQ(indexed.frames.size(), 2u);
        for (const IndexedFrame& frame : indexed.frames) {
            ZSTD_frameHeader header;
            ASSERT_EQ(ZSTD_getFrameHeader(&header, block.data() + frame.block_offset, frame.compressed_size), 0u);
            EXPECT_EQ(header.frameContentSize, frame.content_size);
            EXPECT_EQ(header.checksumFlag, 0u);
            EXPECT_LE(header.windowSize, 1ull << window_log) << window_log;
            EXPECT_LE(header.windowSize, std::max<uint64_t>(2 * frame.content_size, 1 << 10)) << window_log;
        }
    }
}

TEST(IndexedBlock, EmptyInputHasNothingToIndexAndGivesTheSingleFrameBlock) {
    ScratchDir in;
    std::string error;
    std::string block = pack_to_string(in.path(), "", indexed_settings(1), &error);
    DecodedBlock decoded = decode_block(block);
    ASSERT_EQ(decoded.problem, "") << error;
    EXPECT_TRUE(decoded.entries.empty());
    PackSettings single = indexed_settings(1);
    single.compression.layout = BlockLayout::single_frame;
    EXPECT_EQ(block, pack_to_string(in.path(), "", single, &error));
}

}  // namespace
