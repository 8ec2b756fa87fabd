// Any file bytes given to `zembra list`, `extract` and `verify`: the image
// is recognised and its block's shape read, then the entries are listed as
// list does (from the index, or by decoding the stream) and checked as
// verify does. Every refusal is one non-empty line. What is accepted holds
// together: the block lies inside the file, the listing's totals add up,
// its entries follow one another in the stream, and a block that verifies
// has exactly the listing's entries, each with data whose CRC-32 is the one
// stored and a name that lands below the directory it is written into. The
// bytes lie between poisoned margins, so a read past either end of the file
// is reported.
#include <sanitizer/asan_interface.h>
#include <zlib.h>
#define ZSTD_STATIC_LINKING_ONLY   // ZSTD_createDCtx_advanced
#include <zstd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "block_reader.h"
#include "entry_names.h"
#include "image_bytes.h"
#include "image_reader.h"
#include "little_endian.h"
#include "payload/block_format.h"
#include "payload/block_index.h"
#include "unpack_dir.h"
#include "utf8.h"

namespace {

// FUZZ_SHOW=1 prints each input's ending, to see what the seeds reach.
const bool show = std::getenv("FUZZ_SHOW") != nullptr;

void check(bool ok, const char* what) {
    if (ok) return;
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

void ending(const char* how, const std::string& line) {
    check(!line.empty(), "an empty error line");
    check(line.find('\n') == std::string::npos, "an error of more than one line");
    if (show) std::fprintf(stderr, "%s: %s\n", how, line.c_str());
}

// The input, copied between poisoned margins; one buffer serves every input.
class Guarded {
public:
    Guarded(const uint8_t* data, size_t size) : size_(size) {
        if (size > capacity) {
            if (memory != nullptr) {
                ASAN_UNPOISON_MEMORY_REGION(memory, capacity + 2 * margin);
                std::free(memory);
            }
            capacity = size < (size_t{1} << 20) ? size_t{1} << 20 : size;
            memory = static_cast<unsigned char*>(std::malloc(capacity + 2 * margin));
            ASAN_POISON_MEMORY_REGION(memory, capacity + 2 * margin);
        }
        ASAN_UNPOISON_MEMORY_REGION(memory + margin, size);
        if (size > 0) std::memcpy(memory + margin, data, size);
    }
    ~Guarded() { ASAN_POISON_MEMORY_REGION(memory + margin, size_); }
    const unsigned char* data() const { return memory + margin; }

private:
    static constexpr size_t margin = 4096;
    static inline unsigned char* memory = nullptr;
    static inline size_t capacity = 0;
    size_t size_;
};

// The entry bytes one input may decode, over both walks: enough for every
// seed several times over, and what keeps a small frame of repeated bytes
// from costing seconds.
constexpr uint64_t decode_budget = 4 << 20;
uint64_t decoded = 0;
const std::string over_budget = "over the fuzzing budget";

struct Seen {
    WalkedEntry entry;
    uint32_t crc = 0;
};

// Every entry as it comes out, its data's CRC-32 taken here, apart from the
// walk's own; with `names`, refusing a name as verify does.
class Record : public EntrySink {
public:
    explicit Record(bool names) : names_(names) {}
    std::vector<Seen> seen;

    bool begin(const WalkedEntry& entry, std::string* error) override {
        if (!spend(2 * entry.name.size() + entry_size_bytes + entry_checksum_bytes, error)) return false;
        if (names_ && !entry_name_problem(entry.name).empty()) {
            *error = "its name " + entry_name_problem(entry.name);
            return false;
        }
        seen.push_back({entry, 0});
        return true;
    }
    bool data(const unsigned char* bytes, size_t count, std::string* error) override {
        if (!spend(count, error)) return false;
        check(!seen.empty(), "data before any entry");
        seen.back().crc = static_cast<uint32_t>(crc32_z(seen.back().crc, bytes, count));
        return true;
    }
    bool end(const WalkedEntry& entry, std::string*) override {
        check(!seen.empty() && seen.back().entry.stream_offset == entry.stream_offset, "an end without its begin");
        ended_ = seen.size();
        return true;
    }
    size_t ended() const { return ended_; }

private:
    static bool spend(uint64_t bytes, std::string* error) {
        decoded += bytes;
        if (decoded <= decode_budget) return true;
        *error = over_budget;
        return false;
    }
    bool names_;
    size_t ended_ = 0;
};

struct Listing {
    std::vector<WalkedEntry> entries;
    WalkSummary summary;
};

// The listing's own sums and order.
void check_listing(const Listing& listing) {
    uint64_t bytes = 0;
    for (size_t i = 0; i < listing.entries.size(); ++i) {
        const WalkedEntry& e = listing.entries[i];
        check(!e.name.empty() && e.name.size() <= max_entry_name_units, "a listed name empty or too long");
        check(e.name.find(u'\0') == std::u16string::npos, "a listed name holding a NUL");
        check(e.number == i, "entries not numbered in order, the main program first");
        check(e.size <= UINT64_MAX - bytes, "sizes that overflow");
        bytes += e.size;
    }
    check(listing.summary.files == listing.entries.size(), "the file count is not the number of entries");
    check(listing.summary.bytes == bytes, "the byte count is not the sum of the sizes");
}

bool same_entry(const WalkedEntry& a, const WalkedEntry& b) {
    return a.name == b.name && a.size == b.size && a.stored == b.stored && a.number == b.number;
}

void check_index(const BlockShape& shape, uint64_t block_size) {
    check(shape.size == block_size, "a shape of another size than the block");
    if (shape.layout != BlockLayout::indexed) return;
    check(!shape.frames.empty(), "an index without frames");
    uint64_t at = shape.frames.front().block_offset;
    for (const IndexedFrame& f : shape.frames) {
        check(f.block_offset == at && f.compressed_size <= block_size && f.block_offset <= block_size - f.compressed_size,
              "frames that do not follow one another inside the block");
        at += f.compressed_size;
    }
    for (size_t i = 0; i < shape.entries.size(); ++i) {
        const IndexedEntry& e = shape.entries[i];
        check(e.frame < shape.frames.size() && e.offset < shape.frames[e.frame].content_size,
              "an indexed entry outside its frame");
        if (i > 0) {
            const IndexedEntry& before = shape.entries[i - 1];
            check(e.frame > before.frame || (e.frame == before.frame && e.offset > before.offset),
                  "indexed entries out of stream order");
        }
    }
}

// An indexed block's index is behind a CRC-32 that nearly every mutation of
// it breaks; the mutator seals it again (7 times in 8) so that the fuzzer
// reaches the index parser with changed indexes, as a damaged or hostile
// file can carry them. The input stays the file's bytes.
void seal_index(uint8_t* block, uint64_t block_size) {
    const size_t content_at = block_magic_size + index_frame_header_size;
    if (block_size < content_at + sizeof index_magic) return;
    if (std::memcmp(block, block_magic, block_magic_size) != 0 ||
        get_le(block + block_magic_size, 4) != index_frame_magic ||
        std::memcmp(block + content_at, index_magic, sizeof index_magic) != 0)
        return;
    const uint64_t length = get_le(block + block_magic_size + 4, 4);
    if (length < index_checksum_size || length > block_size - content_at) return;
    const uint64_t checked = length - index_checksum_size;
    const uint32_t crc = static_cast<uint32_t>(crc32_z(0, block + content_at, checked));
    for (size_t i = 0; i < index_checksum_size; ++i) block[content_at + checked + i] = uint8_t(crc >> (8 * i));
}

// A Windows launcher the reader takes has every section's data in the file:
// the loader maps it from there.
void check_windows_sections(const unsigned char* data, size_t size) {
    auto le = [&](size_t at, size_t width) {
        check(at <= size && width <= size - at, "an accepted image whose headers lie outside it");
        return get_le(data + at, width);
    };
    const size_t pe = le(0x3C, 4), count = le(pe + 6, 2), table = pe + 24 + le(pe + 20, 2);
    for (size_t i = 0; i < count; ++i) {
        const uint64_t raw_size = le(table + 40 * i + 16, 4), raw_at = le(table + 40 * i + 20, 4);
        check(raw_at <= size && raw_size <= size - raw_at, "an accepted image with a section past its end");
    }
}

}  // namespace

extern "C" size_t LLVMFuzzerMutate(uint8_t* data, size_t size, size_t max_size);
extern "C" size_t LLVMFuzzerCustomMutator(uint8_t* data, size_t size, size_t max_size, unsigned int seed) {
    size = LLVMFuzzerMutate(data, size, max_size);
    if (seed % 8 == 0) return size;
    ImageContents image;
    std::string error;
    if (read_image(data, size, &image, &error)) seal_index(data + image.block_offset, image.block_size);
    return size;
}

// One decoder serves every walk, reset to a fresh one's state for each:
// made and freed anew, it and its window were most of an input's time. Its
// window is at most 4 MiB: a frame header may ask for 128 MiB. A larger one
// is refused as too large, an ending the target still reaches.
ZSTD_DCtx* kept_decoder = nullptr;
bool decoder_in_use = false;

extern "C" ZSTD_DCtx* __wrap_ZSTD_createDCtx() {
    check(!decoder_in_use, "two decoders at once");
    if (kept_decoder == nullptr) kept_decoder = ZSTD_createDCtx_advanced(ZSTD_defaultCMem);
    if (kept_decoder == nullptr) return nullptr;
    ZSTD_DCtx_reset(kept_decoder, ZSTD_reset_session_and_parameters);
    ZSTD_DCtx_setParameter(kept_decoder, ZSTD_d_windowLogMax, 22);
    decoder_in_use = true;
    return kept_decoder;
}

extern "C" size_t __real_ZSTD_freeDCtx(ZSTD_DCtx* decoder);
extern "C" size_t __wrap_ZSTD_freeDCtx(ZSTD_DCtx* decoder) {
    if (decoder == nullptr) return 0;
    if (decoder != kept_decoder) return __real_ZSTD_freeDCtx(decoder);
    decoder_in_use = false;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const Guarded guarded(data, size);
    const MemoryBytes bytes(guarded.data(), size);
    decoded = 0;

    ImageContents image;
    std::string error;
    if (!read_image(bytes, &image, &error)) {
        ending("not an image", error);
        return 0;
    }
    check(image.block_offset <= size && image.block_size <= size - image.block_offset, "a block outside the file");
    check(image.kind != ImageKind::bare_block || (image.block_offset == 0 && image.block_size == size),
          "a block file whose block is not the whole file");
    if (image.kind == ImageKind::windows_launcher) check_windows_sections(guarded.data(), size);
    // The texts a launcher shows and expands: UTF-8, each ended by its
    // terminating 0 and holding none.
    for (const std::string* text : {&image.unpack_spec, &image.company, &image.product, &image.version})
        check(is_valid_utf8(*text) && text->find('\0') == std::string::npos, "a built-in text misread");
    BlockShape shape;
    BlockProblem problem;
    if (!read_block_shape(bytes, image.block_offset, image.block_size, &shape, &problem)) {
        ending("shape refused", describe(problem, image.block_offset));
        return 0;
    }
    check_index(shape, image.block_size);

    // list: from the index, else from the decoded stream.
    Listing listing;
    Record walked(false);
    WalkSummary walk_summary;
    const bool walk_ok = walk_block(bytes, image.block_offset, shape, WalkChecks{false, false}, walked,
                                    &walk_summary, &problem);
    if (walk_ok) check(walked.ended() == walked.seen.size(), "an entry begun and never ended");
    if (shape.layout == BlockLayout::indexed) {
        for (const IndexedEntry& listed : shape.entries) {
            WalkedEntry entry;
            entry.name = listed.name;
            entry.size = listed.size;
            entry.stored = listed.checksum;
            entry.number = listing.entries.size();
            listing.entries.push_back(entry);
            ++listing.summary.files;
            listing.summary.bytes += listed.size;
        }
    } else if (walk_ok) {
        for (const Seen& s : walked.seen) listing.entries.push_back(s.entry);
        listing.summary = walk_summary;
    } else {
        if (problem.what == over_budget) return 0;
        ending("listing refused", describe(problem, image.block_offset));
        return 0;
    }
    check_listing(listing);
    if (walk_ok) {
        // The decoded stream, walked without checks, agrees with the index
        // wherever it got to, and holds every entry's header and data.
        check(walked.seen.size() <= listing.entries.size() || shape.layout != BlockLayout::indexed,
              "the stream holds more entries than the index, unnoticed");
        uint64_t stream = 0, last_offset = 0;
        for (size_t i = 0; i < walked.seen.size(); ++i) {
            const WalkedEntry& e = walked.seen[i].entry;
            check(i == 0 || e.stream_offset > last_offset, "entries out of stream order");
            last_offset = e.stream_offset;
            stream += 2 * (e.name.size() + 1) + entry_size_bytes + entry_checksum_bytes + e.size;
            if (shape.layout == BlockLayout::indexed) {
                check(same_entry(e, listing.entries[i]), "the index's listing differs from the decoded stream's");
            }
        }
        check(walk_summary.stream_bytes >= stream + 2, "a stream shorter than its entries and end marker");
    }

    // verify: every check on, names as extract takes them.
    Record verified(true);
    WalkSummary verified_summary;
    decoded = 0;
    if (!walk_block(bytes, image.block_offset, shape, WalkChecks{}, verified, &verified_summary, &problem)) {
        if (problem.what == over_budget) return 0;
        ending("verify refused", problem.located ? describe(problem, image.block_offset) : problem.what);
        return 0;
    }
    check(verified.seen.size() == listing.entries.size(), "a verified block with another number of entries than listed");
    for (size_t i = 0; i < verified.seen.size(); ++i) {
        const Seen& s = verified.seen[i];
        check(same_entry(s.entry, listing.entries[i]), "a verified entry that differs from the listing");
        check(stored_checksum(s.crc) == s.entry.stored, "a verified entry whose data does not match its checksum");
        check(entry_name_problem(s.entry.name).empty(), "a verified name that lands outside the directory");
    }
    check(verified_summary.files == listing.summary.files && verified_summary.bytes == listing.summary.bytes,
          "verify's totals differ from the listing's");
    if (image.kind != ImageKind::bare_block) {
        SpecValues values;
        values.separator = image.kind == ImageKind::windows_launcher ? '\\' : '/';
        const UnpackDir dir = expand_unpack_spec(image.unpack_spec, values);
        if (!dir.problem.empty()) ending("unpack spec refused", dir.problem);
    }
    if (!check_image_checksum(bytes, image, &error)) {
        ending("checksum refused", error);
        return 0;
    }
    if (show) {
        std::fprintf(stderr, "verified: %s, %zu entries\n", image_kind_name(image.kind), verified.seen.size());
    }
    return 0;
}
