// Memory handed back to the system while unpacking: decoded attached data.
// Handing back anything else (the window, data not yet decoded) would lose
// bytes the launcher still needs; existing files are read through a buffer
// and hold no memory to hand back.
#include <gtest/gtest.h>

#include <string>

#include "attached_fixture.h"
#include "fake_os.h"
#include "payload/attached.h"
#include "payload/in_place.h"
#include "payload/unpack.h"

namespace {

using Range = std::pair<const unsigned char*, uint64_t>;

// Ranges that follow each other from `start` without gap or overlap; returns
// the end of the last one.
const unsigned char* end_of_contiguous(const std::vector<Range>& ranges, const unsigned char* start) {
    const unsigned char* at = start;
    for (const Range& range : ranges) {
        EXPECT_EQ(range.first, at) << "a gap or an overlap";
        at = range.first + range.second;
    }
    return at;
}

TEST(ReleasedPages, ReaderHandsBackOnlyInputAlreadyDecoded) {
    fake_reset();
    reset_launcher_state();
    // Incompressible, so the frame is several megabytes and the input is
    // handed back several times.
    std::string content;
    for (uint32_t seed = 1; content.size() < (5u << 20); ++seed) {
        uint32_t state = seed;
        for (int i = 0; i < 4096; ++i) {
            state = state * 1664525u + 1013904223u;
            content.push_back(static_cast<char>(state >> 24));
        }
    }
    const std::string block = fixture::block(fixture::compress(content));
    fixture::attach(block);
    open_attached();
    const auto* input = static_cast<const unsigned char*>(launcher.decode_input.src);
    const std::vector<Range>& released = fake_os().released;

    std::string piece(40000, '\0');
    for (size_t done = 0; done < content.size(); done += piece.size()) {
        piece.resize(std::min(piece.size(), content.size() - done));
        read_attached(piece.data(), piece.size());
        ASSERT_EQ(piece, content.substr(done, piece.size()));
        ASSERT_LE(end_of_contiguous(released, input), input + launcher.decode_input.pos) << "input not yet decoded";
    }
    // All but the last megabyte's worth went back.
    EXPECT_GE(end_of_contiguous(released, input) + (1u << 20), input + launcher.decode_input.pos);
    reset_launcher_state();
}

// Existing files are read into a buffer of a fixed size, never mapped: a
// large file never sits in memory whole, and there is nothing to hand back.
TEST(ReleasedPages, ChecksumReadsAFileThroughItsBufferOnly) {
    fake_reset();
    reset_launcher_state();
    const std::string file = fixture::sample_bytes((3u << 20) + 12345, 5);
    fake_os().files[u"C:\\app\\big.dll"] = file;

    EXPECT_EQ(existing_file_checksum(u"C:\\app\\big.dll"), fixture::stored_checksum(file));
    const std::vector<uint32_t>& reads = fake_os().read_sizes;
    EXPECT_GE(reads.size(), 4u) << "a large file is read a piece at a time";
    for (uint32_t capacity : reads) EXPECT_EQ(capacity, checksum_buffer_size);
    EXPECT_TRUE(fake_os().released.empty());
    EXPECT_EQ(fake_os().open_reads, 0);
}

}  // namespace
