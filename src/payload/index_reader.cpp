#include "payload/index_reader.h"

#define ZSTD_STATIC_LINKING_ONLY   // ZSTD_getFrameHeader: the frame's window
#include <zstd.h>

#include <cstdlib>

#include "launcher/fatal.h"
#include "launcher/state.h"
#include "payload/attached.h"
#include "payload/block_format.h"
#include "payload/block_index.h"
#include "payload/crc32.h"
#include "payload/unpack.h"

namespace {

constexpr uint64_t full_window = uint64_t{1} << 27;   // the decoder's default limit

[[noreturn]] void damaged() { fatal_message(msg_decode); }

// Reads the index content and never past its end.
struct Cursor {
    const unsigned char* at;
    const unsigned char* end;

    const unsigned char* take(uint64_t count) {
        if (count > static_cast<uint64_t>(end - at)) damaged();
        const unsigned char* start = at;
        at += count;
        return start;
    }
    uint64_t number(int bytes) { return get_le(take(static_cast<uint64_t>(bytes)), static_cast<size_t>(bytes)); }
};

// a + b, or the damage stop when that passes `limit`.
uint64_t add_within(uint64_t a, uint64_t b, uint64_t limit) {
    if (a > limit || b > limit - a) damaged();
    return a + b;
}

void read_frames(Cursor* cursor, uint64_t first_offset) {
    uint64_t expected = first_offset;
    const uint64_t frames_end = launcher.attached_index.block_size - trailer_bytes;
    for (uint32_t f = 0; f < launcher.attached_index.frame_count; ++f) {
        IndexedFrame& frame = launcher.attached_index.frames[f];
        frame.offset = cursor->number(8);
        frame.compressed_size = cursor->number(8);
        frame.content_size = cursor->number(8);
        if (frame.offset != expected || frame.compressed_size == 0) damaged();
        expected = add_within(frame.offset, frame.compressed_size, frames_end);
        // The frame's own header must agree where it states a size; one that
        // states none may need a full window.
        const unsigned char* start = launcher.attached_index.block + frame.offset;
        ZSTD_frameHeader header;
        if (ZSTD_getFrameHeader(&header, start, static_cast<size_t>(frame.compressed_size)) != 0 ||
            header.frameType != ZSTD_frame)
            damaged();
        unsigned long long stated = header.frameContentSize;
        if (stated != ZSTD_CONTENTSIZE_UNKNOWN && stated != frame.content_size) damaged();
        // A decoder holds the frame's window, or its whole content when that
        // is less: frames written with a window smaller than the default let
        // several decoders share the memory one full window would take. A
        // window past the default is refused when the frame is decoded.
        uint64_t window = header.windowSize < full_window ? header.windowSize : full_window;
        bool small = stated != ZSTD_CONTENTSIZE_UNKNOWN && frame.content_size < window;
        frame.decoder_memory = small ? frame.content_size : window;
        frame.first_entry = frame.end_entry = 0;
    }
}

// Entries come in stream order: each starts where the one before it ended in
// the same frame, or at the start of the next frame once that one is full;
// every frame holds at least one. The last frame ends with the end marker.
void read_entries(Cursor* cursor) {
    uint32_t frame_number = 0;
    uint64_t frame_used = 0;
    for (uint32_t e = 0; e < launcher.attached_index.entry_count; ++e) {
        IndexedEntry& entry = launcher.attached_index.entries[e];
        entry.frame = static_cast<uint32_t>(cursor->number(4));
        entry.offset = cursor->number(8);
        entry.size = cursor->number(8);
        entry.stored = static_cast<uint32_t>(cursor->number(4));
        entry.name_length = static_cast<uint16_t>(cursor->number(2));
        if (entry.name_length == 0 || entry.name_length > max_entry_name_units) damaged();
        entry.name = cursor->take(name_unit_bytes * entry.name_length);
        // A 0 unit would end the name early in the stream.
        for (uint16_t i = 0; i < entry.name_length; ++i)
            if (entry.name[2 * i] == 0 && entry.name[2 * i + 1] == 0) damaged();
        entry.needs_writing = false;

        if (entry.frame != frame_number) {
            if (entry.frame != frame_number + 1 || frame_used == 0 ||
                frame_used != launcher.attached_index.frames[frame_number].content_size)
                damaged();
            launcher.attached_index.frames[frame_number].end_entry = e;
            frame_number = entry.frame;
            frame_used = 0;
        }
        if (frame_number >= launcher.attached_index.frame_count) damaged();
        IndexedFrame& frame = launcher.attached_index.frames[frame_number];
        if (frame_used == 0) frame.first_entry = e;
        if (entry.offset != frame_used) damaged();
        uint64_t header = entry_header_bytes(entry.name_length);
        frame_used = add_within(add_within(entry.offset, header, frame.content_size), entry.size, frame.content_size);
    }
    IndexedFrame& last = launcher.attached_index.frames[frame_number];
    last.end_entry = launcher.attached_index.entry_count;
    if (cursor->at != cursor->end) damaged();
    const uint32_t frame_count = launcher.attached_index.frame_count;
    if (frame_number + 1 == frame_count && frame_used + end_marker_bytes == last.content_size) return;
    // The end marker may also stand in a frame of its own.
    if (frame_number + 2 == frame_count && frame_used == last.content_size) {
        IndexedFrame& marker = launcher.attached_index.frames[frame_number + 1];
        marker.first_entry = marker.end_entry = launcher.attached_index.entry_count;
        if (marker.content_size == end_marker_bytes) return;
    }
    damaged();
}

// Every path is joined now, before any file is looked at: one that does not
// fit stops the launcher before anything is written.
void check_paths() {
    PathBuffer path;
    for (uint32_t e = 0; e < launcher.attached_index.entry_count; ++e)
        indexed_entry_path(launcher.attached_index.entries[e], path);
}

}  // namespace

bool attached_has_index() {
    const unsigned char* block = launcher.attached_cursor;
    uint64_t size = launcher.attached_remaining;
    const uint64_t header_end = block_magic_size + index_frame_header_size + sizeof index_magic;
    if (size < header_end) return false;
    for (size_t i = 0; i < block_magic_size; ++i)
        if (block[i] != block_magic[i]) return false;
    const unsigned char* frame = block + block_magic_size;
    if (get_le(frame, 4) != index_frame_magic) return false;
    for (size_t i = 0; i < sizeof index_magic; ++i)
        if (frame[index_frame_header_size + i] != index_magic[i]) return false;
    return true;
}

void read_attached_index() {
    launcher.attached_index.block = launcher.attached_cursor;
    launcher.attached_index.block_size = launcher.attached_remaining;
    const unsigned char* frame = launcher.attached_cursor + block_magic_size;
    uint64_t length = get_le(frame + 4, 4);
    uint64_t content_start = block_magic_size + index_frame_header_size;
    if (launcher.attached_remaining < content_start + trailer_bytes ||
        length > launcher.attached_remaining - trailer_bytes - content_start ||
        length < index_header_size + index_checksum_size)
        damaged();
    const unsigned char* content = frame + index_frame_header_size;
    const uint64_t checked = length - index_checksum_size;
    if (crc32_continue(0, content, static_cast<size_t>(checked)) != get_le(content + checked, 4)) damaged();

    Cursor cursor{content + sizeof index_magic, content + checked};
    if (cursor.number(4) != index_version) damaged();
    launcher.attached_index.frame_count = static_cast<uint32_t>(cursor.number(4));
    launcher.attached_index.entry_count = static_cast<uint32_t>(cursor.number(4));
    if (launcher.attached_index.frame_count == 0 || launcher.attached_index.entry_count == 0) damaged();
    // Each record takes room in the index, so its length bounds both counts
    // before anything is allocated for them.
    const uint64_t room = static_cast<uint64_t>(cursor.end - cursor.at);
    if (launcher.attached_index.frame_count > room / index_frame_record_size ||
        launcher.attached_index.entry_count > room / (index_entry_fixed_size + name_unit_bytes))
        damaged();

    size_t frames_bytes = launcher.attached_index.frame_count * sizeof(IndexedFrame);
    void* memory = std::malloc(frames_bytes + launcher.attached_index.entry_count * sizeof(IndexedEntry));
    if (memory == nullptr) fatal_message(msg_no_memory);
    launcher.attached_index.frames = static_cast<IndexedFrame*>(memory);
    launcher.attached_index.entries =
        reinterpret_cast<IndexedEntry*>(static_cast<unsigned char*>(memory) + frames_bytes);

    read_frames(&cursor, content_start + length);
    read_entries(&cursor);
    check_paths();
}

void release_attached_index() {
    std::free(launcher.attached_index.frames);
    launcher.attached_index = {nullptr, 0, nullptr, 0, nullptr, 0};
}

void indexed_entry_path(const IndexedEntry& entry, char16_t* out) {
    char16_t name[entry_name_capacity];
    for (uint16_t i = 0; i < entry.name_length; ++i) name[i] = static_cast<char16_t>(get_le(entry.name + 2 * i, 2));
    join_entry_path(out, name, entry.name_length);
}
