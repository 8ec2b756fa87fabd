// Unpacking entries over the fake platform: what is written, what is reused,
// and how the walk ends on damaged data and failed writes.
#include <gtest/gtest.h>
#include <sys/mman.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "attached_fixture.h"
#include "fake_os.h"
#include "isolated.h"
#include "launcher/fatal.h"
#include "launcher/state.h"
#include "launcher/text.h"
#include "payload/attached.h"
#include "payload/crc32.h"
#include "payload/unpack.h"

namespace {

using Files = std::vector<std::pair<std::u16string, std::string>>;

const std::u16string target = u"C:\\Users\\user\\AppData\\Local\\Quenlith\\1.0.20";

std::u16string under(const std::u16string& dir, const std::u16string& name) { return dir + u"\\" + name; }
std::u16string path(const std::u16string& name) { return under(target, name); }

std::string stream_of(const Files& files) {
    std::string out;
    for (const auto& [name, data] : files) out += fixture::entry(name, data);
    return out + fixture::end_marker;
}

std::string utf8(const std::u16string& text) {
    std::string out(text.size() * 3 + 1, '\0');
    text_to_utf8(text.c_str(), out.data(), out.size());
    out.resize(std::char_traits<char>::length(out.c_str()));
    return out;
}

class Unpack : public ::testing::Test {
protected:
    void SetUp() override { fresh(); }
    void TearDown() override { reset_launcher_state(); }

    // A new machine: nothing on disk below the profile directory.
    void fresh(const std::u16string& dir = target) {
        fake_reset();
        dir_ = dir;
        next_start();
    }

    // The launcher started again over what the last start left on disk.
    void next_start() {
        reset_launcher_state();
        text_copy(launcher.target_dir, dir_.c_str(), path_capacity);
        FakeOs& os = fake_os();
        os.created_dirs.clear();
        os.opened_for_write.clear();
        os.writes = 0;
        os.known_folder_calls = 0;
    }

    void start_with_block(const std::string& block) {
        block_ = block;
        fixture::attach(block_);
        open_attached();
        unpack_entries();
    }

    void start(const std::string& stream) {
        frame_ = fixture::compress(stream);
        start_with_block(fixture::block(frame_));
    }

    std::u16string dir_;
    std::string frame_;
    std::string block_;
};

// Deep directories, an empty file, data whose CRC-32 is 0, a name outside
// ASCII, and data spread over several write pieces and windows.
const std::string crc_zero("\x9d\x0a\xd9\x6d", 4);
const Files sample_payload = {
    {u"app.exe", fixture::sample_bytes(40000, 1)},
    {u"data\\empty.txt", ""},
    {u"data\\crc-zero.bin", crc_zero},
    {u"data\\sub\\deep\\\u00fcn\u00efc\u00f8d\u00e9 \u2713.txt", "unicode"},
    {u"lib\\big.dll", fixture::sample_bytes(300000, 2)},
};

TEST_F(Unpack, FirstStartWritesEveryEntryWithItsExactBytes) {
    ASSERT_EQ(fixture::crc_of(crc_zero), 0u);
    start(stream_of(sample_payload));
    const FakeOs& os = fake_os();
    for (const auto& [name, data] : sample_payload) {
        SCOPED_TRACE(utf8(name));
        ASSERT_EQ(os.files.count(path(name)), 1u);
        EXPECT_EQ(os.files.at(path(name)), data);
    }
    EXPECT_EQ(std::u16string(launcher.main_exe_path), path(u"app.exe"));
    EXPECT_EQ(os.opened_for_write.size(), sample_payload.size());
    EXPECT_EQ(os.open_handles, 0);
    EXPECT_EQ(os.open_reads, 0);
}

TEST_F(Unpack, SecondStartWithNothingChangedOnlyReadsTheStream) {
    const Files& payload = sample_payload;
    start(stream_of(payload));
    next_start();
    start(stream_of(payload));

    const FakeOs& os = fake_os();
    EXPECT_TRUE(os.opened_for_write.empty());
    EXPECT_TRUE(os.created_dirs.empty());
    EXPECT_EQ(os.known_folder_calls, 0);   // "{HOME}" never expanded
    EXPECT_EQ(launcher.known_dirs_count, 0u);
    EXPECT_EQ(os.open_reads, 0);
    // The skipped first entry still names the program to run.
    EXPECT_EQ(std::u16string(launcher.main_exe_path), path(u"app.exe"));
    // Every byte up to the end marker was decoded and taken.
    EXPECT_EQ(launcher.decode_input.pos, frame_.size());
    EXPECT_EQ(launcher.decode_window.pos, launcher.decode_window.size);
}

TEST_F(Unpack, NextStartRewritesOnlyTheFileThatDiffers) {
    struct Case {
        const char* change;
        std::u16string name;
        void (*apply)(std::string& data, FakeOs& os, const std::u16string& file);
        bool rewritten = true;
    };
    const Case cases[] = {
        {"one byte changed", u"lib\\big.dll", [](std::string& d, FakeOs&, const std::u16string&) { d[1000] ^= 1; }},
        {"made longer", u"app.exe", [](std::string& d, FakeOs&, const std::u16string&) { d += "more"; }},
        {"made shorter", u"data\\crc-zero.bin", [](std::string& d, FakeOs&, const std::u16string&) { d.pop_back(); }},
        {"deleted", u"lib\\big.dll", [](std::string&, FakeOs& os, const std::u16string& f) { os.files.erase(f); }},
        {"unreadable", u"app.exe", [](std::string&, FakeOs& os, const std::u16string& f) { os.unreadable.insert(f); }},
        {"empty entry left alone", u"data\\empty.txt", [](std::string&, FakeOs&, const std::u16string&) {}, false},
        {"empty file given bytes", u"data\\empty.txt", [](std::string& d, FakeOs&, const std::u16string&) { d = "x"; }},
        {"empty file deleted", u"data\\empty.txt", [](std::string&, FakeOs& os, const std::u16string& f) { os.files.erase(f); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.change);
        fresh();
        start(stream_of(sample_payload));
        next_start();
        FakeOs& os = fake_os();
        c.apply(os.files[path(c.name)], os, path(c.name));
        start(stream_of(sample_payload));

        // Only the changed file is written; an empty file that is there is in place.
        std::vector<std::u16string> expected;
        if (c.rewritten) expected.push_back(path(c.name));
        EXPECT_EQ(os.opened_for_write, expected);
        for (const auto& [name, data] : sample_payload) EXPECT_EQ(os.files.at(path(name)), data);
    }
}

// A stored 0 equals the checksum reported for a missing file; the entry must
// be written all the same, at every start.
TEST_F(Unpack, StoredChecksumZeroIsNeverTakenAsAMatch) {
    const std::string stream = fixture::entry(u"app.exe", "abc", 0) + fixture::end_marker;
    start(stream);
    EXPECT_EQ(fake_os().files.at(path(u"app.exe")), "abc");
    next_start();
    start(stream);
    EXPECT_EQ(fake_os().opened_for_write, std::vector<std::u16string>{path(u"app.exe")});
}

TEST_F(Unpack, MissingFilesInOneExistingDirectoryCostOneCreation) {
    FakeOs& os = fake_os();
    os.dirs.insert({u"C:\\Users\\user\\AppData", u"C:\\Users\\user\\AppData\\Local", under(u"C:\\Users\\user\\AppData\\Local", u"Quenlith"), target, path(u"lib")});
    start(stream_of({{u"lib\\a.dll", "a"}, {u"lib\\b.dll", "b"}, {u"lib\\c.dll", "c"}}));
    EXPECT_EQ(os.created_dirs, std::vector<std::u16string>{path(u"lib")});   // answered "already exists"
    EXPECT_EQ(os.opened_for_write.size(), 3u);
}

TEST_F(Unpack, StreamWithOnlyTheEndMarkerWritesNothing) {
    start(fixture::end_marker);
    EXPECT_EQ(launcher.main_exe_path[0], 0);
    EXPECT_TRUE(fake_os().opened_for_write.empty());
    EXPECT_TRUE(fake_os().created_dirs.empty());
    EXPECT_EQ(fake_os().known_folder_calls, 0);
}

// Nothing after the end marker is looked at: not bytes left in the frame,
// not the padding, not the trailer, not even their presence.
TEST_F(Unpack, NothingAfterTheEndMarkerIsRead) {
    const std::string stream = stream_of(sample_payload);
    const std::string frame = fixture::compress(stream);
    std::string garbage_tail = fixture::block(frame, '\x5a');
    for (size_t i = garbage_tail.size() - 8; i < garbage_tail.size(); ++i) garbage_tail[i] = '\xee';
    struct Case {
        const char* block;
        std::string bytes;
    };
    const Case cases[] = {
        {"garbage padding and trailer", garbage_tail},
        {"no padding or trailer", fixture::magic + frame},
        {"bytes after the end marker inside the frame", fixture::block(fixture::compress(stream + "\x01\x00 trailing"))},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.block);
        fresh();
        start_with_block(c.bytes);
        EXPECT_EQ(std::u16string(launcher.main_exe_path), path(u"app.exe"));
        for (const auto& [name, data] : sample_payload) EXPECT_EQ(fake_os().files.at(path(name)), data);
    }
}

// What the fake holds when the process ends: printed from an exit handler so
// that the test sees it after a fatal stop.
void report_files_at_exit() {
    std::atexit([] {
        for (const auto& [name, data] : fake_os().files) std::printf("%s=%zu\n", utf8(name).c_str(), data.size());
    });
}

TEST_F(Unpack, FailedOrShortWriteStopsWithTheSystemError) {
    struct Case {
        const char* failure;
        int FakeOs::*which;
        std::string line;
    };
    const Case cases[] = {
        {"failed write", &FakeOs::fail_write_at,
         "Error, couldn't unpack file to target path. ([Error 112] There is not enough space on the disk.)\n"},
        {"short write", &FakeOs::short_write_at,
         "Error, couldn't unpack file to target path. ([Error 29] The system cannot write to the specified device.)\n"},
    };
    // Write 0 is the first entry; write 1 is the first piece of the second.
    const Files payload = {{u"app.exe", "main"}, {u"lib\\big.dll", fixture::sample_bytes(70000, 4)}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.failure);
        fresh();
        fake_os().*c.which = 1;
        Isolated run = run_isolated([&] {
            report_files_at_exit();
            start(stream_of(payload));
        });
        EXPECT_TRUE(run.exited);
        EXPECT_EQ(run.exit_code, fatal_exit_code);
        EXPECT_EQ(run.err, c.line);
        // The file before it stays; the broken one stays as far as it got.
        EXPECT_EQ(run.out, utf8(path(u"app.exe")) + "=4\n" + utf8(path(u"lib\\big.dll")) +
                               (c.which == &FakeOs::fail_write_at ? "=0\n" : "=32767\n"));
    }
}

TEST_F(Unpack, FileThatCannotBeOpenedStopsWithItsPath) {
    struct Case {
        const char* obstacle;
        void (*apply)(FakeOs& os);
    };
    const Case cases[] = {
        {"a directory of the entry's name", [](FakeOs& os) { os.dirs.insert(path(u"lib\\a.dll")); }},
        {"a file where its directory should be", [](FakeOs& os) { os.files[path(u"lib")] = "file"; }},
        {"a parent that cannot be made", [](FakeOs& os) { os.create_dir_fails.insert(path(u"lib")); }},
        {"a file that cannot be opened", [](FakeOs& os) { os.open_fails.insert(path(u"lib\\a.dll")); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.obstacle);
        fresh();
        c.apply(fake_os());
        Isolated run = run_isolated([&] {
            report_files_at_exit();
            start(stream_of({{u"app.exe", "main"}, {u"lib\\a.dll", "a"}, {u"z.txt", "z"}}));
        });
        EXPECT_TRUE(run.exited);
        EXPECT_EQ(run.exit_code, fatal_exit_code);
        EXPECT_EQ(run.err, "Error, failed to open '" + utf8(path(u"lib\\a.dll")) + "' for writing.\n");
        EXPECT_EQ(run.out.find(utf8(path(u"app.exe")) + "=4\n"), 0u) << run.out;
        EXPECT_EQ(run.out.find("z.txt"), std::string::npos);
    }
}

// Names may hold up to max_entry_name_units; the joined path must fit a path
// buffer with its terminator.
TEST_F(Unpack, NamesAndPathsAtTheirLimits) {
    // With one separator, a name of 10 units fills the path buffer but for
    // the terminator.
    const std::u16string long_dir = u"C:\\" + std::u16string(path_capacity - 3 - 1 - 10 - 1, u'd');
    struct Case {
        const char* limit;
        std::u16string dir;
        std::u16string name;
        int exit_code;
        std::string out;
    };
    const Case cases[] = {
        {"longest name", target, std::u16string(max_entry_name_units, u'n'), 0, "written\n"},
        {"name one unit longer", target, std::u16string(max_entry_name_units + 1, u'n'), fatal_exit_code,
         std::string(msg_decode) + "\n"},
        {"longest path", long_dir, u"file-12345", 0, "written\n"},
        {"path one unit longer", long_dir, u"file-123456", fatal_exit_code, ""},   // stops without a message
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.limit);
        fresh(c.dir);
        fake_os().dirs.insert(c.dir);
        Isolated run = run_isolated([&] {
            start(stream_of({{c.name, "x"}}));
            if (fake_os().files.at(under(c.dir, c.name)) == "x") std::puts("written");
        });
        EXPECT_TRUE(run.exited);
        EXPECT_EQ(run.exit_code, c.exit_code);
        EXPECT_EQ(run.out, c.out);
        EXPECT_EQ(run.err, "");
    }
}

TEST_F(Unpack, ProfileDirectoryThatCannotBeNamedEndsTheLauncher) {
    fake_os().profile.reset();
    Isolated run = run_isolated([&] { start(stream_of({{u"app.exe", "main"}})); });
    EXPECT_FALSE(run.exited && run.exit_code == 0);
    EXPECT_EQ(run.err, "Error, couldn't runtime expand spec '{HOME}'.\n");
}

// ---- the checksum of a file already on disk ---------------------------------

TEST(ExistingFileChecksum, ReportsTheCrcOrZeroForNoUsableFile) {
    fake_reset();
    reset_launcher_state();
    FakeOs& os = fake_os();
    os.files[u"C:\\f\\plain"] = "hello";
    os.files[u"C:\\f\\empty"] = "";
    os.files[u"C:\\f\\crc-zero"] = crc_zero;
    os.files[u"C:\\f\\locked"] = "hello";
    os.unreadable.insert(u"C:\\f\\locked");
    os.dirs.insert(u"C:\\f\\dir");
    struct Case {
        const char16_t* file;
        uint32_t checksum;
    };
    const Case cases[] = {
        {u"C:\\f\\plain", fixture::crc_of("hello")}, {u"C:\\f\\crc-zero", 1}, {u"C:\\f\\empty", 0},
        {u"C:\\f\\missing", 0},                     {u"C:\\f\\locked", 0},   {u"C:\\f\\dir", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(utf8(c.file));
        EXPECT_EQ(existing_file_checksum(c.file), c.checksum);
    }
    EXPECT_EQ(os.open_reads, 0);
}

// The launcher's CRC must be zlib's, which the packer stores, at every length
// and alignment: the fast paths work on 16 to 64 bytes at a time, after a
// head that brings the pointer to alignment and before an odd tail.
TEST(Crc32, EqualsZlibsAtEveryLengthAndAlignmentAndInPieces) {
    std::vector<unsigned char> data(200003);
    uint32_t state = 2463534242u;
    for (unsigned char& byte : data) {
        state ^= state << 13, state ^= state >> 17, state ^= state << 5;
        byte = static_cast<unsigned char>(state >> 24);
    }
    const size_t lengths[] = {0, 1, 2, 3, 7, 8, 15, 16, 17, 31, 32, 33, 63, 64, 65, 127, 128, 129, 255, 256,
                              257, 1023, 1024, 4099, 65536 + 13, 199990};
    for (size_t offset : {0, 1, 3, 7, 8, 15, 13}) {
        for (size_t length : lengths) {
            SCOPED_TRACE("offset " + std::to_string(offset) + ", length " + std::to_string(length));
            const unsigned char* at = data.data() + offset;
            uLong zlib = crc32(crc32(0, Z_NULL, 0), at, static_cast<uInt>(length));
            EXPECT_EQ(crc32_continue(0, at, length), static_cast<uint32_t>(zlib));
        }
    }
    // Continued piece by piece, as a file is read, including empty pieces.
    uLong whole = crc32(0, data.data(), static_cast<uInt>(data.size()));
    for (size_t piece : {1, 5, 4096, 65537}) {
        SCOPED_TRACE("pieces of " + std::to_string(piece));
        uint32_t crc = 0;
        for (size_t at = 0; at < data.size(); at += piece) {
            crc = crc32_continue(crc, data.data() + at, std::min(piece, data.size() - at));
            crc = crc32_continue(crc, data.data() + at, 0);
        }
        EXPECT_EQ(crc, static_cast<uint32_t>(whole));
    }
}

// CRC-32 of `count` zero bytes, by doubling with zlib's combination.
uLong crc_of_zeros(uint64_t count) {
    const std::string mib(1 << 20, '\0');
    uLong crc = crc32(0, reinterpret_cast<const Bytef*>(mib.data()), static_cast<uInt>(mib.size()));
    uint64_t length = mib.size();
    while (length < count) {
        crc = crc32_combine(crc, crc, static_cast<z_off_t>(length));
        length *= 2;
    }
    return length == count ? crc : throw std::logic_error("a power of two MiB expected");
}

// A file of 4 GiB and 4 bytes: a size cut to 32 bits would checksum only its
// first four bytes. The zeros are the system's shared zero page, so the test
// costs no memory.
TEST(ExistingFileChecksum, CoversFilesOfFourGibibytesAndMore) {
    fake_reset();
    reset_launcher_state();
    const uint64_t size = (uint64_t{1} << 32) + 4;
    const size_t mapped = static_cast<size_t>(size + 4095) & ~size_t{4095};
    void* memory = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    ASSERT_NE(memory, MAP_FAILED);
    madvise(memory, mapped, MADV_HUGEPAGE);   // fewer page faults where the system allows
    auto* bytes = static_cast<unsigned char*>(memory);
    std::copy_n("tail", 4, bytes + size - 4);
    fake_os().memory_files[u"C:\\big.bin"] = {bytes, size};

    uLong expected = crc32_combine(crc_of_zeros(uint64_t{1} << 32), fixture::crc_of("tail"), 4);
    EXPECT_EQ(existing_file_checksum(u"C:\\big.bin"), static_cast<uint32_t>(expected));
    munmap(memory, mapped);
}

}  // namespace
