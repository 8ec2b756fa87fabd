// The block's shape: its magic, and an indexed block's index, checked as a
// launcher checks it before it trusts any of it.
#include <zlib.h>
#define ZSTD_STATIC_LINKING_ONLY   // ZSTD_FRAMEHEADERSIZE_MAX
#include <zstd.h>

#include "block_reader.h"
#include "little_endian.h"
#include "payload/block_format.h"
#include "payload/block_index.h"
#include "text_display.h"

namespace {

std::string number(uint64_t value) { return std::to_string(value); }

bool fail(BlockProblem* problem, uint64_t block_byte, const std::string& what) {
    *problem = BlockProblem();
    problem->what = what;
    problem->block_byte = block_byte;
    return false;
}

bool fail_at_entry(BlockProblem* problem, uint64_t block_byte, const std::u16string& entry, const std::string& what) {
    fail(problem, block_byte, what);
    problem->in_entry = true;
    problem->entry = entry;
    return false;
}

// Reads the index content, never past its end; positions are block bytes.
struct Cursor {
    const std::string& content;
    uint64_t content_at;   // the block byte of content[0]
    size_t at = 0;
    size_t end;

    bool take(size_t count, uint64_t* value) {
        if (count > end - at) return false;
        *value = get_le(reinterpret_cast<const unsigned char*>(content.data()) + at, count);
        at += count;
        return true;
    }
    uint64_t block_byte() const { return content_at + at; }
};

const char* index_cut = "the index ends inside a record";

bool read_frames(Cursor* cursor, uint64_t first_offset, uint64_t block_size, const ImageBytes& bytes,
                 uint64_t block_offset, std::vector<IndexedFrame>* frames, BlockProblem* problem) {
    uint64_t expected = first_offset;
    const uint64_t frames_end = block_size - trailer_bytes;
    for (size_t f = 0; f < frames->size(); ++f) {
        IndexedFrame& frame = (*frames)[f];
        const uint64_t record = cursor->block_byte();
        const std::string name = "index record of frame " + number(f);
        if (!cursor->take(8, &frame.block_offset) || !cursor->take(8, &frame.compressed_size) ||
            !cursor->take(8, &frame.content_size))
            return fail(problem, record, index_cut);
        if (frame.block_offset != expected) {
            return fail(problem, record, "the " + name + " places it at block byte " + number(frame.block_offset) +
                                             ", where the frames before it end at " + number(expected));
        }
        if (frame.compressed_size == 0 || frame.compressed_size > frames_end - frame.block_offset) {
            return fail(problem, record, "the " + name + " gives it " + number(frame.compressed_size) +
                                             " bytes, which do not fit before the trailer");
        }
        expected = frame.block_offset + frame.compressed_size;
        unsigned char header[ZSTD_FRAMEHEADERSIZE_MAX];
        const size_t header_size = static_cast<size_t>(std::min<uint64_t>(sizeof header, frame.compressed_size));
        std::string error;
        if (!bytes.read(block_offset + frame.block_offset, header, header_size, &error))
            return fail(problem, frame.block_offset, error);
        const unsigned long long stated = ZSTD_getFrameContentSize(header, header_size);
        if (stated == ZSTD_CONTENTSIZE_ERROR)
            return fail(problem, frame.block_offset, "frame " + number(f) + " does not begin with a zstd frame header");
        if (stated != ZSTD_CONTENTSIZE_UNKNOWN && stated != frame.content_size) {
            return fail(problem, frame.block_offset, "frame " + number(f) + " states " + number(stated) +
                                                         " bytes of content, its index record " +
                                                         number(frame.content_size));
        }
    }
    return true;
}

// Entries in stream order: each where the one before it ended in the same
// frame, or at the start of the next frame once that one is full; the last
// frame ends with the end marker (or holds it alone).
bool read_entries(Cursor* cursor, std::vector<IndexedFrame>* frames, std::vector<IndexedEntry>* entries,
                  BlockProblem* problem) {
    uint32_t frame_number = 0;
    uint64_t frame_used = 0;
    for (size_t e = 0; e < entries->size(); ++e) {
        IndexedEntry& entry = (*entries)[e];
        const uint64_t record = cursor->block_byte();
        uint64_t frame = 0, checksum = 0, units = 0;
        if (!cursor->take(4, &frame) || !cursor->take(8, &entry.offset) || !cursor->take(8, &entry.size) ||
            !cursor->take(4, &checksum) || !cursor->take(2, &units))
            return fail(problem, record, index_cut);
        entry.frame = static_cast<uint32_t>(frame);
        entry.checksum = static_cast<uint32_t>(checksum);
        const std::string name = "index record of entry " + number(e);
        if (units == 0 || units > max_entry_name_units) {
            return fail(problem, record, "the " + name + " gives a name of " + number(units) + " units, not 1 to " +
                                             number(max_entry_name_units));
        }
        entry.name.clear();
        for (uint64_t u = 0; u < units; ++u) {
            uint64_t unit = 0;
            if (!cursor->take(name_unit_bytes, &unit)) return fail(problem, record, index_cut);
            if (unit == 0) return fail(problem, record, "the " + name + " holds a 0 unit inside its name");
            entry.name.push_back(static_cast<char16_t>(unit));
        }
        const std::string order = "the index does not list it where the one before it ends";
        if (entry.frame != frame_number) {
            if (entry.frame != frame_number + 1 || frame_used == 0 ||
                frame_used != (*frames)[frame_number].content_size)
                return fail_at_entry(problem, record, entry.name, order);
            frame_number = entry.frame;
            frame_used = 0;
        }
        if (frame_number >= frames->size())
            return fail_at_entry(problem, record, entry.name, "the index puts it in a frame it does not list");
        const uint64_t content = (*frames)[frame_number].content_size;
        const uint64_t header = entry_header_bytes(units);
        if (entry.offset != frame_used) return fail_at_entry(problem, record, entry.name, order);
        if (header > content - frame_used || entry.size > content - frame_used - header)
            return fail_at_entry(problem, record, entry.name, "the index gives it more bytes than its frame holds");
        frame_used += header + entry.size;
    }
    if (cursor->at != cursor->end) return fail(problem, cursor->block_byte(), "the index holds bytes after its last record");
    const IndexedFrame& last = (*frames)[frame_number];
    if (frame_number + 1 == frames->size() && frame_used + end_marker_bytes == last.content_size) return true;
    if (frame_number + 2 == frames->size() && frame_used == last.content_size &&
        (*frames)[frame_number + 1].content_size == end_marker_bytes)
        return true;
    return fail(problem, cursor->block_byte(), "the index's frames do not end with the end marker after its last entry");
}

}  // namespace

std::string describe(const BlockProblem& problem, uint64_t block_offset) {
    if (!problem.located) return problem.what;
    std::string where = problem.in_entry ? "entry '" + display_name(problem.entry) + "' at " : "";
    where += "block byte " + number(problem.block_byte);
    if (block_offset != 0) where += " (file byte " + number(block_offset + problem.block_byte) + ")";
    return where + ": " + problem.what;
}

bool read_block_shape(const ImageBytes& bytes, uint64_t block_offset, uint64_t block_size, BlockShape* shape,
                      BlockProblem* problem) {
    *shape = BlockShape();
    shape->size = block_size;
    std::string error;
    std::string start;
    const uint64_t header_end = block_magic_size + index_frame_header_size + sizeof index_magic;
    if (!bytes.read(block_offset, std::min(block_size, header_end), &start, &error)) return fail(problem, 0, error);
    if (block_size < block_magic_size + trailer_bytes)
        return fail(problem, 0, "the block is " + number(block_size) + " bytes, too short for its magic and trailer");
    if (start.compare(0, block_magic_size, std::string(reinterpret_cast<const char*>(block_magic), block_magic_size)) != 0)
        return fail(problem, 0, "the block does not begin with its magic QVR");
    const bool indexed = start.size() == header_end && get_le32(start, block_magic_size) == index_frame_magic &&
                         start.compare(block_magic_size + index_frame_header_size, sizeof index_magic,
                                       std::string(reinterpret_cast<const char*>(index_magic), sizeof index_magic)) == 0;
    if (!indexed) return true;
    shape->layout = BlockLayout::indexed;

    const uint64_t length = get_le32(start, block_magic_size + 4);
    const uint64_t content_at = block_magic_size + index_frame_header_size;
    if (length < index_header_size + index_checksum_size || length > block_size - trailer_bytes - content_at)
        return fail(problem, block_magic_size, "the index's length (" + number(length) + " bytes) does not fit the block");
    std::string content;
    if (!bytes.read(block_offset + content_at, length, &content, &error)) return fail(problem, content_at, error);
    const uint64_t checked = length - index_checksum_size;
    const uint32_t crc = static_cast<uint32_t>(crc32_z(0, reinterpret_cast<const Bytef*>(content.data()), checked));
    if (crc != get_le32(content, checked))
        return fail(problem, content_at, "the index is damaged: its checksum does not hold");
    Cursor cursor{content, content_at, sizeof index_magic, static_cast<size_t>(checked)};
    uint64_t version = 0, frame_count = 0, entry_count = 0;
    cursor.take(4, &version);
    cursor.take(4, &frame_count);
    cursor.take(4, &entry_count);
    if (version != index_version)
        return fail(problem, content_at, "the index is of version " + number(version) + ", which this packer does not read");
    const uint64_t room = cursor.end - cursor.at;
    if (frame_count == 0 || entry_count == 0 || frame_count > room / index_frame_record_size ||
        entry_count > room / (index_entry_fixed_size + name_unit_bytes))
        return fail(problem, content_at, "the index lists " + number(frame_count) + " frames and " +
                                             number(entry_count) + " entries, which do not fit in it");
    shape->frames.resize(frame_count);
    shape->entries.resize(entry_count);
    return read_frames(&cursor, content_at + length, block_size, bytes, block_offset, &shape->frames, problem) &&
           read_entries(&cursor, &shape->frames, &shape->entries, problem);
}
