// Unpacking an indexed block over the fake platform: the index is checked
// whole before anything is written, every file is checked first, and only
// the frames holding files to write are decoded, by a few decoders at once.
#define ZSTD_STATIC_LINKING_ONLY   // ZSTD_customMem, for the wrapped ZSTD_createDCtx_advanced
#include <gtest/gtest.h>
#include <zstd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "attached_fixture.h"
#include "fake_builtin.h"
#include "fake_os.h"
#include "indexed_fixture.h"
#include "isolated.h"
#include "launcher/fatal.h"
#include "launcher/main.h"
#include "launcher/state.h"
#include "launcher/text.h"
#include "payload/index_reader.h"
#include "payload/indexed_unpack.h"
#include "payload/target_lock.h"
#include "payload/unpack.h"

namespace {

// What the launcher asks of the decoder: the contexts it creates and the
// input of every call, by the frame it lies in.
int contexts_created = 0;
std::vector<const unsigned char*> decoded_inputs;

}  // namespace

extern "C" ZSTD_DCtx* __real_ZSTD_createDCtx_advanced(ZSTD_customMem memory);
extern "C" ZSTD_DCtx* __wrap_ZSTD_createDCtx_advanced(ZSTD_customMem memory) {
    ++contexts_created;
    return __real_ZSTD_createDCtx_advanced(memory);
}
extern "C" size_t __real_ZSTD_decompressStream(ZSTD_DCtx*, ZSTD_outBuffer*, ZSTD_inBuffer*);
extern "C" size_t __wrap_ZSTD_decompressStream(ZSTD_DCtx* context, ZSTD_outBuffer* output, ZSTD_inBuffer* input) {
    decoded_inputs.push_back(static_cast<const unsigned char*>(input->src));
    return __real_ZSTD_decompressStream(context, output, input);
}

namespace {

using fixture::Files;

const std::u16string target = u"C:\\Users\\user\\AppData\\Local\\Quenlith\\1.0.20";
std::u16string path(const std::u16string& name) { return target + u"\\" + name; }

const std::string decode_line = std::string(msg_decode) + "\n";

// Four frames: two entries, one large entry over several windows, an empty
// entry with one whose CRC-32 is 0, and one entry of its own.
const Files payload = {
    {u"app.exe", fixture::sample_bytes(40000, 1)},
    {u"lib\\one.dll", fixture::sample_bytes(5000, 2)},
    {u"lib\\big.dll", fixture::sample_bytes(400000, 3)},
    {u"data\\empty.txt", ""},
    {u"data\\crc-zero.bin", std::string("\x9d\x0a\xd9\x6d", 4)},
    {u"data\\deep\\last.txt", "the last entry"},
};
const std::vector<size_t> per_frame = {2, 1, 2, 1};

class IndexedUnpack : public ::testing::Test {
protected:
    void SetUp() override {
        fake_reset();
        forget_run();
        block_ = fixture::indexed_block(payload, per_frame);
    }
    void TearDown() override { forget_run(); }

    // What one run of the launcher leaves in the process, gone; the disk
    // stays, and the next run unpacks into the same target.
    void forget_run(const std::u16string& dir = target) {
        unlock_target_dir();
        reset_launcher_state();
        text_copy(launcher.target_dir, dir.c_str(), path_capacity);
        contexts_created = 0;
        decoded_inputs.clear();
        FakeOs& os = fake_os();
        os.opened_for_write.clear();
        os.created_dirs.clear();
        os.lock_dirs.clear();
        os.threads_started = os.threads_joined = 0;
        os.known_folder_calls = 0;
    }

    void start() {
        forget_run();
        fixture::attach(block_.bytes);
        ASSERT_TRUE(attached_has_index());
        unpack_indexed_entries();
    }

    // The frames the decoder was given input from, by number.
    std::set<size_t> decoded_frames() const {
        std::set<size_t> frames;
        const auto* base = reinterpret_cast<const unsigned char*>(block_.bytes.data());
        for (const unsigned char* input : decoded_inputs)
            for (size_t f = 0; f < block_.frames.size(); ++f)
                if (input == base + block_.frames[f].first) frames.insert(f);
        return frames;
    }

    void expect_all_in_place() {
        for (const auto& [name, data] : payload) {
            ASSERT_EQ(fake_os().files.count(path(name)), 1u);
            EXPECT_EQ(fake_os().files.at(path(name)), data);
        }
    }

    fixture::IndexedBlock block_;
};

TEST_F(IndexedUnpack, FirstStartWritesEveryEntryUnderTheLock) {
    FakeOs& os = fake_os();
    start();
    expect_all_in_place();
    EXPECT_EQ(std::u16string(launcher.main_exe_path), path(u"app.exe"));
    EXPECT_EQ(os.opened_for_write.size(), payload.size());
    EXPECT_EQ(os.lock_dirs, std::vector<std::u16string>{target});
    EXPECT_EQ(os.lock_dir_existed, std::vector<bool>{true});
    EXPECT_EQ(os.opened_before_lock, std::vector<size_t>{0});
    EXPECT_EQ(decoded_frames(), (std::set<size_t>{0, 1, 2, 3}));
    EXPECT_EQ(os.open_handles, 0);
    EXPECT_EQ(os.open_reads, 0);
    EXPECT_EQ(os.locks_held, 0);
    EXPECT_EQ(launcher.attached_index.entries, nullptr) << "the index is released";
}

TEST_F(IndexedUnpack, WarmStartCreatesNoDecoderAndWritesNothing) {
    start();
    start();
    const FakeOs& os = fake_os();
    EXPECT_EQ(contexts_created, 0);
    EXPECT_TRUE(decoded_inputs.empty());
    EXPECT_TRUE(os.opened_for_write.empty());
    EXPECT_TRUE(os.created_dirs.empty());
    EXPECT_TRUE(os.lock_dirs.empty());
    EXPECT_EQ(os.known_folder_calls, 0);   // "{HOME}" never expanded
    EXPECT_EQ(std::u16string(launcher.main_exe_path), path(u"app.exe"));
    EXPECT_EQ(os.open_reads, 0);
}

// Only the changed file is written, and only its frame is decoded: a frame
// is decoded up to its last file to write, the others not at all.
TEST_F(IndexedUnpack, RepairDecodesOnlyTheFramesOfFilesThatDiffer) {
    struct Case {
        const char* change;
        std::vector<std::u16string> names;
        std::function<void(FakeOs&, const std::u16string&)> apply;
        std::set<size_t> frames;
    };
    auto flip = [](FakeOs& os, const std::u16string& file) { os.files[file][100] ^= 1; };
    auto erase = [](FakeOs& os, const std::u16string& file) { os.files.erase(file); };
    auto shorten = [](FakeOs& os, const std::u16string& file) { os.files[file].pop_back(); };
    const Case cases[] = {
        {"the main program changed", {u"app.exe"}, flip, {0}},
        {"the second file of a frame deleted", {u"lib\\one.dll"}, erase, {0}},
        {"a large file made shorter", {u"lib\\big.dll"}, shorten, {1}},
        {"an empty file deleted", {u"data\\empty.txt"}, erase, {2}},
        {"files of two frames deleted", {u"lib\\one.dll", u"data\\deep\\last.txt"}, erase, {0, 3}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.change);
        SetUp();
        start();
        for (const std::u16string& name : c.names) c.apply(fake_os(), path(name));
        start();
        std::vector<std::u16string> expected;
        for (const std::u16string& name : c.names) expected.push_back(path(name));
        EXPECT_EQ(fake_os().opened_for_write, expected);
        EXPECT_EQ(decoded_frames(), c.frames);
        expect_all_in_place();
    }
}

// While this launcher waited for the lock, another one wrote files: what it
// finished is left alone; what it did not is still written.
TEST_F(IndexedUnpack, FilesWrittenByTheLockHolderMeanwhileAreNotRewritten) {
    FakeOs& os = fake_os();
    os.on_lock = [&] {
        os.dirs.insert({path(u"lib"), path(u"data")});
        for (size_t i = 0; i < 3; ++i) os.files[path(payload[i].first)] = payload[i].second;
    };
    start();
    EXPECT_EQ(os.opened_for_write, (std::vector<std::u16string>{path(u"data\\empty.txt"), path(u"data\\crc-zero.bin"),
                                                                 path(u"data\\deep\\last.txt")}));
    EXPECT_EQ(decoded_frames(), (std::set<size_t>{2, 3}));
    expect_all_in_place();
}

// Damage is found, not trusted: any fault in the index ends the launcher
// with the decoding message before a file is looked at or written.
TEST_F(IndexedUnpack, DamagedIndexStopsBeforeAnythingIsWritten) {
    using Block = fixture::IndexedBlock;
    const size_t header = block_.index_content;
    struct Case {
        const char* damage;
        std::function<void(Block&)> apply;
        bool reseal = true;
    };
    const Case cases[] = {
        {"a byte of the index changed, its checksum not", [](Block& b) { b.bytes[b.entry_records[1] + 20] ^= 1; }, false},
        {"another version", [&](Block& b) { b.put(header + 4, index_version + 1, 4); }},
        {"no frames", [&](Block& b) { b.put(header + 8, 0, 4); }},
        {"more entries than the index holds", [&](Block& b) { b.put(header + 12, 1000, 4); }},
        {"a gap before the first frame", [](Block& b) { b.put(b.frame_records[0], b.frames[0].first + 1, 8); }},
        {"frames that overlap", [](Block& b) { b.put(b.frame_records[1] + 8, b.frames[1].second + 1, 8); }},
        {"the last frame reaching the trailer",
         [](Block& b) { b.put(b.frame_records[3] + 8, b.bytes.size() - 8 - b.frames[3].first + 1, 8); }},
        {"a frame size the frame does not state", [](Block& b) { b.put(b.frame_records[1] + 16, 1 << 20, 8); }},
        {"a frame that is not a frame", [](Block& b) { b.bytes[b.frames[2].first] ^= 0x40; }},
        {"an entry in the wrong frame", [](Block& b) { b.put(b.entry_records[1], 1, 4); }},
        {"an entry at the wrong offset", [](Block& b) { b.put(b.entry_records[1] + 4, 3, 8); }},
        {"an entry larger than its frame", [](Block& b) { b.put(b.entry_records[2] + 12, 500000, 8); }},
        {"a name of no units", [](Block& b) { b.put(b.entry_records[1] + 24, 0, 2); }},
        {"a name of 1024 units", [](Block& b) { b.put(b.entry_records[5] + 24, 1024, 2); }},
        {"a name holding a 0 unit", [](Block& b) { b.put(b.entry_records[1] + 26 + 2, 0, 2); }},
        {"bytes after the last entry", [&](Block& b) { b.put(header + 12, payload.size() - 1, 4); }},
        {"a length past the block", [](Block& b) { b.put(3 + 4, b.bytes.size(), 4); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.damage);
        SetUp();
        c.apply(block_);
        if (c.reseal) block_.reseal();
        Isolated run = run_isolated([&] {
            std::atexit([] { std::printf("written=%zu dirs=%zu\n", fake_os().opened_for_write.size(), fake_os().created_dirs.size()); });
            start();
        });
        EXPECT_TRUE(run.exited);
        EXPECT_EQ(run.exit_code, fatal_exit_code);
        EXPECT_EQ(run.out, decode_line + "written=0 dirs=0\n");
        EXPECT_EQ(run.err, "");
    }
}

// The index is trusted only as far as the stream agrees with it: a frame
// that says otherwise of an entry it decodes is damage.
TEST_F(IndexedUnpack, StreamThatDisagreesWithTheIndexStopsWithTheDecodingMessage) {
    using Block = fixture::IndexedBlock;
    struct Case {
        const char* disagreement;
        std::function<void(Block&)> apply;
    };
    const Case cases[] = {
        {"another name", [](Block& b) { b.put(b.entry_records[0] + 26, u'A', 2); }},
        {"another stored checksum", [](Block& b) { b.put(b.entry_records[1] + 20, 12345, 4); }},
        {"a frame that ends early",
         [](Block& b) {
             // No stated size, the same length: only decoding finds it out.
             std::string shorter = fixture::compress(b.contents[3].substr(0, b.contents[3].size() - 5));
             if (shorter.size() > b.frames[3].second) throw std::logic_error("a shorter frame expected");
             shorter.resize(b.frames[3].second, '\0');
             b.bytes.replace(b.frames[3].first, shorter.size(), shorter);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.disagreement);
        SetUp();
        c.apply(block_);
        block_.reseal();
        Isolated run = run_isolated([&] { start(); });
        EXPECT_TRUE(run.exited);
        EXPECT_EQ(run.exit_code, fatal_exit_code);
        EXPECT_EQ(run.out, decode_line);
    }
}

// A path that would not fit stops the launcher without a message, as in the
// stream, but now before any file is written.
TEST_F(IndexedUnpack, PathThatDoesNotFitStopsBeforeAnythingIsWritten) {
    Files files = payload;
    files.back().first = std::u16string(1023, u'n');
    const std::u16string long_dir = u"C:\\" + std::u16string(3070, u'd');   // 3073 + 1 + 1023 + 1 > 4096
    block_ = fixture::indexed_block(files, per_frame);
    forget_run(long_dir);
    fake_os().dirs.insert(long_dir);
    Isolated run = run_isolated([&] {
        fixture::attach(block_.bytes);
        std::atexit([] { std::printf("written=%zu\n", fake_os().opened_for_write.size()); });
        unpack_indexed_entries();
    });
    EXPECT_TRUE(run.exited);
    EXPECT_EQ(run.exit_code, fatal_exit_code);
    EXPECT_EQ(run.out, "");   // _Exit: not even the exit handler runs
    EXPECT_EQ(run.err, "");
}

TEST_F(IndexedUnpack, FailuresWhileWritingEndWithTodaysMessages) {
    struct Case {
        const char* failure;
        std::function<void(FakeOs&)> arrange;
        std::string err;
    };
    const Case cases[] = {
        {"a file that cannot be opened", [](FakeOs& os) { os.open_fails.insert(path(u"lib\\big.dll")); },
         "Error, failed to open '" + std::string("C:\\Users\\user\\AppData\\Local\\Quenlith\\1.0.20\\lib\\big.dll") +
             "' for writing.\n"},
        {"a write that fails", [](FakeOs& os) { os.fail_write_at = 3; },
         "Error, couldn't unpack file to target path. ([Error 112] There is not enough space on the disk.)\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.failure);
        SetUp();
        c.arrange(fake_os());
        Isolated run = run_isolated([&] { start(); });
        EXPECT_TRUE(run.exited);
        EXPECT_EQ(run.exit_code, fatal_exit_code);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, c.err);
    }
}

// One decoder per processor up to four, as many as the budget holds for the
// largest frame to decode, never more than the frames, at least one.
TEST(DecodingThreads, FollowProcessorsFramesAndMemory) {
    struct Case {
        uint32_t processors, frames;
        uint64_t largest;
        uint32_t threads;
    };
    const uint64_t mib = 1 << 20;
    const Case cases[] = {
        {2, 10, 32 * mib, 2}, {8, 10, 32 * mib, 4}, {8, 3, 32 * mib, 3}, {1, 10, 32 * mib, 1},
        {8, 10, 64 * mib, 3}, {8, 10, 100 * mib, 1}, {8, 10, 128 * mib, 1}, {8, 10, 1, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.processors << " processors, " << c.frames << " frames, " << c.largest);
        fake_reset();
        fake_os().processors = c.processors;
        EXPECT_EQ(decoding_threads_for(c.frames, c.largest), c.threads);
    }
}

// What a frame's decoder may allocate, which sets how many decode at once:
// its window, or its whole content when that is less and the frame itself
// states it (the index alone does not bound what the decoder allocates).
TEST_F(IndexedUnpack, DecoderMemoryIsTheFramesWindowOrItsContent) {
    struct Case {
        const char* frames;
        bool sized;
        int window_log;
    };
    const Case cases[] = {
        {"sized, windows larger than their content", true, 0},
        {"sized, 4 KiB windows", true, 12},
        {"unsized, 4 KiB windows", false, 12},
        {"unsized, 64 KiB windows", false, 16},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.frames);
        SetUp();
        block_ = fixture::indexed_block(payload, per_frame, c.sized, c.window_log);
        fixture::attach(block_.bytes);
        ASSERT_TRUE(attached_has_index());
        read_attached_index();
        ASSERT_EQ(launcher.attached_index.frame_count, block_.frames.size());
        for (size_t f = 0; f < block_.frames.size(); ++f) {
            uint64_t content = block_.contents[f].size();
            uint64_t window = c.window_log == 0 ? content : uint64_t{1} << c.window_log;
            uint64_t expected = c.sized ? std::min(window, content) : window;
            EXPECT_EQ(launcher.attached_index.frames[f].decoder_memory, expected) << "frame " << f;
        }
        release_attached_index();
    }
}

// The frames are shared out among the decoders; a decoder that cannot be
// started leaves its share to the others, and each frame is decoded once.
TEST_F(IndexedUnpack, ColdStartSharesFramesAmongDecoders) {
    struct Case {
        const char* machine;
        uint32_t processors;
        bool starts_fail;
        int started;
    };
    const Case cases[] = {
        {"one processor", 1, false, 0},
        {"four processors", 4, false, 3 + 3 + 3},   // the checks, the checks under the lock, the frames
        {"threads that cannot be started", 4, true, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.machine);
        SetUp();
        fake_os().processors = c.processors;
        fake_os().thread_start_fails = c.starts_fail;
        start();
        expect_all_in_place();
        EXPECT_EQ(fake_os().threads_started, c.started);
        EXPECT_EQ(fake_os().threads_joined, c.started);
        EXPECT_EQ(decoded_frames().size(), block_.frames.size());
        EXPECT_LE(contexts_created, 4);
    }
}

// Layouts a writer may choose: frames without a stated size, the end marker
// in a frame of its own, one frame for everything.
TEST_F(IndexedUnpack, AcceptsEveryLayoutTheIndexDescribes) {
    struct Case {
        const char* layout;
        fixture::IndexedBlock block;
    };
    fixture::IndexedBlock marker_alone = fixture::indexed_block(payload, {2, 1, 2, 1, 0});
    const Case cases[] = {
        {"frames without a stated size", fixture::indexed_block(payload, per_frame, false)},
        {"the end marker in a frame of its own", marker_alone},
        {"a single frame", fixture::indexed_block(payload, {payload.size()})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.layout);
        SetUp();
        block_ = c.block;
        start();
        expect_all_in_place();
        start();
        EXPECT_TRUE(fake_os().opened_for_write.empty());
    }
}

// The main sequence tells the layouts apart: a block without an index, or
// with a skippable frame that is no index, is read as one stream.
TEST_F(IndexedUnpack, MainSequenceReadsBothLayouts) {
    std::string stream;
    for (const auto& [name, data] : payload) stream += fixture::entry(name, data);
    stream += fixture::end_marker;
    std::string other_skippable;
    fixture::append_le(other_skippable, 0x184D2A50, 4);
    fixture::append_le(other_skippable, 4, 4);
    other_skippable += "QVRX";
    struct Case {
        const char* layout;
        std::string block;
    };
    const Case cases[] = {
        {"indexed", block_.bytes},
        {"single frame", fixture::block(fixture::compress(stream))},
        {"a skippable frame of another kind", fixture::block(other_skippable + fixture::compress(stream))},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.layout);
        fake_reset();
        forget_run();
        fake_set_block(c.block);
        fake_set_unpack_spec(target);
        fake_os().children.push_back(FakeChild{});
        bool decoder_held_at_start = true;
        fake_os().on_start = [&] { decoder_held_at_start = launcher.decode_context != nullptr; };
        EXPECT_EQ(launcher_main(), 0u);
        expect_all_in_place();
        EXPECT_EQ(fake_os().children.back().application, path(u"app.exe"));
        EXPECT_FALSE(decoder_held_at_start);
    }
    fake_set_unpack_spec(u"{CACHE_DIR}\\Quenlith\\{VERSION}");
}

}  // namespace
