#include <atomic>
#include <cstring>

#include "launcher/fatal.h"
#include "launcher/state.h"
#include "payload/block_format.h"
#include "payload/frame_reader.h"
#include "payload/index_reader.h"
#include "payload/indexed_unpack.h"
#include "payload/parallel.h"
#include "payload/target_lock.h"

namespace {

constexpr size_t entry_header_capacity = entry_header_bytes(max_entry_name_units);

// One past the frame's last entry to write, or its first entry when it holds
// none: decoding stops there.
uint32_t decode_end(const IndexedFrame& frame) {
    for (uint32_t e = frame.end_entry; e > frame.first_entry; --e)
        if (launcher.attached_index.entries[e - 1].needs_writing) return e;
    return frame.first_entry;
}

// The stream must say what the index says of every entry decoded: its name,
// size and checksum. A difference is damage, like a frame that fails.
void read_entry_header(FrameReader* reader, const IndexedEntry& entry) {
    unsigned char header[entry_header_capacity];
    size_t name_bytes = name_unit_bytes * entry.name_length;
    read_frame(reader, header, entry_header_bytes(entry.name_length));
    const unsigned char* field = header + name_bytes;
    bool same = std::memcmp(header, entry.name, name_bytes) == 0 && get_le(field, name_unit_bytes) == 0;
    field += name_unit_bytes;
    same = same && get_le(field, entry_size_bytes) == entry.size;
    field += entry_size_bytes;
    if (!same || get_le(field, entry_checksum_bytes) != entry.stored) fatal_message(msg_decode);
}

void write_entry(FrameReader* reader, const IndexedEntry& entry) {
    PathBuffer path;
    indexed_entry_path(entry, path);
    FileHandle file = open_for_writing_under_lock(path);
    if (file == nullptr) fatal_open_for_writing(path);
    write_frame_data(reader, file, entry.size);
    os_close_file(file);
}

void decode_frame(FrameReader* reader, const IndexedFrame& frame, uint32_t end) {
    if (reader->context == nullptr) open_frame_reader(reader);
    start_frame(reader, launcher.attached_index.block + frame.offset, frame.compressed_size);
    for (uint32_t e = frame.first_entry; e < end; ++e) {
        const IndexedEntry& entry = launcher.attached_index.entries[e];
        read_entry_header(reader, entry);
        if (entry.needs_writing)
            write_entry(reader, entry);
        else
            read_frame(reader, nullptr, entry.size);
    }
}

struct DecodeTask {
    std::atomic<uint32_t>* next;   // the next frame to look at, shared
};

// A decoder is created only once this thread has a frame to decode.
void decode_body(void* argument) {
    auto* task = static_cast<DecodeTask*>(argument);
    FrameReader reader = {};
    for (uint32_t f; (f = task->next->fetch_add(1)) < launcher.attached_index.frame_count;) {
        const IndexedFrame& frame = launcher.attached_index.frames[f];
        uint32_t end = decode_end(frame);
        if (end > frame.first_entry) decode_frame(&reader, frame, end);
    }
    close_frame_reader(&reader);
}

}  // namespace

uint32_t decoding_threads_for(uint32_t frames, uint64_t largest_decoder_memory) {
    uint32_t threads = threads_for(frames);
    uint64_t fitting = largest_decoder_memory > 0 ? decoder_memory_budget / largest_decoder_memory : threads;
    if (fitting < threads) threads = fitting > 0 ? static_cast<uint32_t>(fitting) : 1;
    return threads;
}

void write_marked_entries() {
    uint32_t frames = 0;
    uint64_t largest = 0;
    for (uint32_t f = 0; f < launcher.attached_index.frame_count; ++f) {
        const IndexedFrame& frame = launcher.attached_index.frames[f];
        if (decode_end(frame) == frame.first_entry) continue;
        ++frames;
        if (frame.decoder_memory > largest) largest = frame.decoder_memory;
    }
    if (frames == 0) return;
    std::atomic<uint32_t> next{0};
    DecodeTask tasks[threads_max];
    uint32_t threads = decoding_threads_for(frames, largest);
    for (uint32_t i = 0; i < threads; ++i) tasks[i] = {&next};
    run_tasks(decode_body, tasks, sizeof tasks[0], threads);
}
