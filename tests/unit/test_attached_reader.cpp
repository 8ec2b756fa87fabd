// The attached data reader: the magic, byte-exact decoding through the
// window, and the decoding failures.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "attached_fixture.h"
#include "fake_os.h"
#include "isolated.h"
#include "launcher/fatal.h"
#include "payload/attached.h"

namespace {

const std::string decode_line = std::string(msg_decode) + "\n";
const std::string header_line = std::string(msg_no_header) + "\n";

class AttachedReader : public ::testing::Test {
protected:
    void SetUp() override {
        fake_reset();
        reset_launcher_state();
    }
    void TearDown() override { reset_launcher_state(); }

    void open(const std::string& frame) { open_block(fixture::block(frame)); }

    void open_block(const std::string& block) {
        block_ = block;
        fixture::attach(block_);
        open_attached();
    }

    // Reads `total` bytes in a repeating pattern of piece sizes, as the
    // entry loop does (units, sizes, checksums, data pieces) and beyond.
    static std::string read_in_pieces(size_t total) {
        static const size_t pieces[] = {2, 2, 8, 4, 32768, 1, 131071, 7, 131072, 131073, 3};
        std::string out;
        for (size_t i = 0; out.size() < total; ++i) {
            size_t n = std::min(pieces[i % std::size(pieces)], total - out.size());
            std::string piece(n, '\0');
            read_attached(piece.data(), n);
            out += piece;
        }
        return out;
    }

    std::string block_;
};

// Runs Debian's zstd command line on `content` with `options`; the input
// comes from a pipe unless `from_file`, so the frame header has no size.
std::string compress_with_cli(const std::string& content, const std::string& options, bool from_file) {
    char dir[] = "/tmp/reader-test.XXXXXX";
    if (mkdtemp(dir) == nullptr) throw std::runtime_error("mkdtemp");
    std::string in = std::string(dir) + "/in", out = std::string(dir) + "/out.zst";
    std::ofstream(in, std::ios::binary) << content;
    std::string command = "zstd -q -c " + options + (from_file ? " " : " < ") + in + " > " + out;
    int status = std::system(command.c_str());
    std::ifstream file(out, std::ios::binary);
    std::stringstream frame;
    frame << file.rdbuf();
    std::system(("rm -rf " + std::string(dir)).c_str());
    if (status != 0) throw std::runtime_error("zstd failed: " + command);
    return frame.str();
}

TEST_F(AttachedReader, DecodesFramesOfEveryWriterByteExactly) {
    // Several windows, and several 512 KiB jobs for the threaded writer.
    const std::string content = fixture::sample_bytes(1280 * 1024 + 12345, 7);
    struct Case {
        const char* writer;
        std::string frame;
    };
    const Case cases[] = {
        {"libzstd level 1", fixture::compress(content, 1)},
        {"libzstd level 19", fixture::compress(content, 19)},
        {"libzstd window log 27", fixture::compress(content, 3, 27)},
        {"cli -1", compress_with_cli(content, "-1", false)},
        {"cli -19", compress_with_cli(content, "-19", false)},
        {"cli -3 from a file (size in the header)", compress_with_cli(content, "-3", true)},
        {"cli --long=27", compress_with_cli(content, "-3 --long=27", false)},
        {"cli -T2 in 512 KiB jobs", compress_with_cli(content, "-3 -T2 -B524288", false)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.writer);
        reset_launcher_state();
        open(c.frame);
        ASSERT_EQ(read_in_pieces(content.size()), content);
        close_attached();
        EXPECT_EQ(launcher.decode_context, nullptr);
    }
}

TEST_F(AttachedReader, OpenChecksMagicThenSetsUpTheWindow) {
    open(fixture::compress("x"));
    EXPECT_EQ(launcher.attached_cursor, reinterpret_cast<const unsigned char*>(block_.data()) + 3);
    EXPECT_EQ(launcher.decode_input.src, launcher.attached_cursor);
    EXPECT_EQ(launcher.decode_input.size, block_.size() - 3);
    EXPECT_EQ(launcher.decode_input.pos, 0u);
    EXPECT_NE(launcher.decode_window.dst, nullptr);
    EXPECT_EQ(launcher.decode_window.size, 0u);   // the first read finds the window empty
    EXPECT_EQ(launcher.decode_window.pos, 0u);
    EXPECT_FALSE(launcher.window_filled);
    EXPECT_NE(launcher.decode_context, nullptr);
}

TEST_F(AttachedReader, ReadStraddlingTheWindowEndCompletesInOneCall) {
    const std::string content = fixture::sample_bytes(400000, 3);
    open(fixture::compress(content));
    std::string first(decode_window_size - 3, '\0');
    read_attached(first.data(), first.size());
    size_t consumed = launcher.decode_input.pos;
    std::string straddling(8, '\0');
    read_attached(straddling.data(), straddling.size());
    EXPECT_EQ(straddling, content.substr(decode_window_size - 3, 8));
    EXPECT_GT(launcher.decode_input.pos, consumed);   // the same call refilled the window
    EXPECT_EQ(launcher.decode_window.pos, 5u);
}

TEST_F(AttachedReader, SkippingLeavesTheStreamWhereReadingWould) {
    // Skips of every kind: none, inside the window, to its very end, across
    // one and several refills; each followed by a read that must see the
    // bytes right after the skipped ones.
    const std::string content = fixture::sample_bytes(5 * decode_window_size + 777, 11);
    open(fixture::compress(content, 3, 27));
    const uint64_t skips[] = {0, 10, decode_window_size - 20, 1, decode_window_size, 3 * decode_window_size / 2};
    size_t at = 0;
    for (uint64_t skip : skips) {
        SCOPED_TRACE(skip);
        skip_attached(skip);
        at += skip;
        std::string next(9, '\0');
        read_attached(next.data(), next.size());
        EXPECT_EQ(next, content.substr(at, 9));
        at += 9;
    }
    // One byte more than the stream holds ends like a read past it.
    Isolated run = run_isolated([&] { skip_attached(content.size() - at + 1); });
    EXPECT_EQ(run.exit_code, fatal_exit_code);
    EXPECT_EQ(run.out, decode_line);
}

// Byte offset just past the n-th block of a frame with a 6-byte header (no
// content size, no dictionary, not single-segment).
size_t end_of_block(const std::string& frame, int n) {
    size_t at = 6;
    for (int i = 0; i < n; ++i) {
        uint32_t header = static_cast<unsigned char>(frame[at]) | static_cast<unsigned char>(frame[at + 1]) << 8 |
                          static_cast<unsigned char>(frame[at + 2]) << 16;
        uint32_t type = (header >> 1) & 3, size = header >> 3;
        at += 3 + (type == 1 ? 1 : size);   // an RLE block stores one byte
    }
    return at;
}

// Blocks of exactly one window each: cut after the second block, the first
// call fills the window with block one and takes in all of block two, which
// stays inside the decompressor.
TEST_F(AttachedReader, PendingOutputArrivesAfterTheInputIsUsedUp) {
    const std::string content = fixture::sample_bytes(3 * decode_window_size, 11);
    std::string frame = fixture::compress(content);
    ASSERT_EQ(static_cast<unsigned char>(frame[4]), 0x00) << "frame header descriptor";
    frame.resize(end_of_block(frame, 2));
    open_block(fixture::magic + frame);   // nothing after the frame

    std::string first(decode_window_size, '\0');
    read_attached(first.data(), first.size());
    ASSERT_EQ(first, content.substr(0, decode_window_size));
    ASSERT_EQ(launcher.decode_input.pos, launcher.decode_input.size) << "input not used up";
    ASSERT_TRUE(launcher.window_filled);

    std::string second(decode_window_size, '\0');
    read_attached(second.data(), second.size());
    EXPECT_EQ(second, content.substr(decode_window_size, decode_window_size));
}

// A stream that stops short: the read that wants more ends with the decoding
// message instead of hanging.
TEST_F(AttachedReader, TruncatedFrameEndsWithTheDecodingMessage) {
    const std::string content = fixture::sample_bytes(3 * decode_window_size, 11);
    const std::string frame = fixture::compress(content);
    struct Case {
        const char* cut;
        size_t length;
        size_t readable;   // bytes that still decode before the failure
    };
    const Case cases[] = {
        {"inside the frame header", 5, 0},
        {"after the frame header", 6, 0},
        {"inside the first block", end_of_block(frame, 1) - 100, 0},
        {"after the second block", end_of_block(frame, 2), 2 * decode_window_size},
        {"inside the closing block header", frame.size() - 1, content.size()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.cut);
        Isolated run = run_isolated([&] {
            open_block(fixture::magic + frame.substr(0, c.length));
            std::string sink(c.readable, '\0');
            read_attached(sink.data(), sink.size());
            if (sink != content.substr(0, c.readable)) std::_Exit(99);
            read_attached(sink.data(), 1);
        });
        EXPECT_TRUE(run.exited);
        EXPECT_EQ(run.exit_code, fatal_exit_code);
        EXPECT_EQ(run.out, decode_line);
    }
}

// Reading past the end of the entry stream makes the decompressor take the
// padding and trailer for a new frame, which it rejects.
TEST_F(AttachedReader, ReadingPastTheFrameEndsWithTheDecodingMessage) {
    Isolated run = run_isolated([&] {
        open(fixture::compress("complete"));
        char bytes[9];
        read_attached(bytes, sizeof bytes);
    });
    EXPECT_EQ(run.exit_code, fatal_exit_code);
    EXPECT_EQ(run.out, decode_line);
}

// The window descriptor byte follows the frame header descriptor; the
// library's default limit is a window of 2^27 bytes.
TEST_F(AttachedReader, WindowAboveTheLimitFailsAtTheFirstRead) {
    const std::string content = fixture::sample_bytes(1000, 5);
    struct Case {
        unsigned char window_descriptor;
        bool decodes;
    };
    for (Case c : {Case{0x88, true}, Case{0x90, false}}) {
        SCOPED_TRACE(static_cast<int>(c.window_descriptor));
        std::string frame = fixture::compress(content);
        ASSERT_EQ(static_cast<unsigned char>(frame[4]), 0x00) << "frame header descriptor";
        frame[5] = static_cast<char>(c.window_descriptor);
        Isolated run = run_isolated([&] {
            open(frame);
            std::string out(content.size(), '\0');
            read_attached(out.data(), 2);
            read_attached(out.data() + 2, out.size() - 2);
            std::fputs(out == content ? "same" : "different", stdout);
        });
        EXPECT_EQ(run.exit_code, c.decodes ? 0 : fatal_exit_code);
        EXPECT_EQ(run.out, c.decodes ? "same" : decode_line);
    }
}

// Block bytes end right before an inaccessible page, so a look past the end
// of a short block crashes instead of passing unnoticed.
struct GuardedBytes {
    explicit GuardedBytes(const std::string& bytes) {
        long page = sysconf(_SC_PAGESIZE);
        base = static_cast<unsigned char*>(
            mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
        size = 2 * page;
        mprotect(base + page, page, PROT_NONE);
        start = base + page - bytes.size();
        std::copy(bytes.begin(), bytes.end(), start);
    }
    ~GuardedBytes() { munmap(base, size); }
    unsigned char* base;
    size_t size;
    unsigned char* start;
};

// On a wrong magic nothing is allocated: what the reader holds is reported
// from an exit handler, after the header message.
TEST_F(AttachedReader, WrongOrShortMagicGivesTheHeaderMessageAndAllocatesNothing) {
    const std::string frame = fixture::compress("data");
    const std::string blocks[] = {
        "XVR" + frame, "QXR" + frame, "QVX" + frame, "qvr" + frame, "", "Q", "QV", frame,
    };
    for (const std::string& bytes : blocks) {
        SCOPED_TRACE(bytes.substr(0, 3));
        GuardedBytes guarded(bytes);
        Isolated run = run_isolated([&] {
            std::atexit([] {
                std::printf("window %s, context %s\n", launcher.decode_window.dst ? "allocated" : "none",
                            launcher.decode_context ? "created" : "none");
            });
            launcher.attached_cursor = guarded.start;
            launcher.attached_remaining = bytes.size();
            open_attached();
        });
        EXPECT_TRUE(run.exited);
        EXPECT_EQ(run.exit_code, fatal_exit_code);
        EXPECT_EQ(run.out, header_line + "window none, context none\n");
    }
}

}  // namespace
