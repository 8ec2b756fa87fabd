#include "indexed_block.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <deque>
#include <future>
#include <memory>

#include "block_writer.h"
#include "entry_stream.h"
#include "fd_io.h"
#include "frame_plan.h"
#include "host.h"
#include "index_frame.h"
#include "payload/block_format.h"
#include "payload/block_index.h"

namespace {

// One frame's content: each entry's header and a snapshot of its data, kept
// until the frame is compressed so that reading runs ahead of compression.
struct FrameJob {
    std::vector<std::vector<unsigned char>> headers;
    std::vector<std::unique_ptr<FileSnapshot>> snapshots;
    bool ends_stream = false;
    uint64_t content_size = 0;
};

struct CompressedFrame {
    std::vector<unsigned char> bytes;
    std::string error;   // empty when the frame is complete
};

// Counters shared by the compressing threads and the one writing the block.
struct Shared {
    std::atomic<uint64_t> compressed{0};   // content bytes, all frames together
    std::atomic<bool> stop{false};         // the pack has failed: stop early
};

CompressedFrame compress_frame(FrameJob& job, const CompressionSettings& settings, Shared* shared) {
    CompressedFrame frame;
    std::string& error = frame.error;
    FrameEncoder encoder;
    uint64_t reported = 0;
    encoder.on_progress = [&](uint64_t consumed) {
        shared->compressed += consumed - reported;
        reported = consumed;
    };
    FrameSink keep = [&](const unsigned char* data, size_t size, std::string*) {
        frame.bytes.insert(frame.bytes.end(), data, data + size);
        return true;
    };
    auto compress = [&](const unsigned char* data, size_t size) {
        if (shared->stop) {
            error = "stopped";
            return false;
        }
        return encoder.write(data, size, &error);
    };
    // Each frame on one thread: frames are independent, so the block does not
    // depend on how many run at once.
    bool ok = encoder.begin(settings, 0, job.content_size, keep, &error);
    for (size_t i = 0; ok && i < job.headers.size(); ++i) {
        ok = compress(job.headers[i].data(), job.headers[i].size()) && replay_snapshot(*job.snapshots[i], compress, &error);
        job.snapshots[i].reset();
    }
    std::vector<unsigned char> end = end_marker();
    if (ok && job.ends_stream) ok = compress(end.data(), end.size());
    if (ok) ok = encoder.end(&error);
    if (ok) error.clear();
    else if (error.empty()) error = "compression failed";
    return frame;
}

}  // namespace

bool write_indexed_block(const InputTree& tree, const PackSettings& settings, Progress* progress, int fd,
                         std::string* error) {
    const CompressionSettings& compression = settings.compression;
    FramePlan plan = plan_frames(tree.files, compression.frame_target);
    std::vector<IndexedFrame> frames(plan.frames.size());
    std::vector<IndexedEntry> entries;
    for (size_t i = 0; i < tree.files.size(); ++i) {
        const PlannedEntry& planned = plan.entries[i];
        entries.push_back({static_cast<uint32_t>(planned.frame), planned.offset, tree.files[i].size, 0,
                           tree.files[i].entry_name});
    }
    // Room for the index, whose offsets and checksums are known only at the end.
    std::vector<unsigned char> index = index_frame(frames, entries);
    if (index.size() - index_frame_header_size > UINT32_MAX) {
        *error = "too many files for the index of an indexed block (--layout single-frame has no index)";
        return false;
    }
    uint64_t written = 0;
    auto put = [&](const void* data, size_t size) {
        if (!write_fully(fd, data, size)) {
            *error = std::string("cannot write the block: ") + error_text(errno);
            return false;
        }
        written += size;
        return true;
    };
    if (!put(block_magic, block_magic_size) || !put(index.data(), index.size())) return false;

    Shared shared;
    std::deque<std::future<CompressedFrame>> running;
    size_t frames_written = 0;
    // Frames go into the block in order, each as soon as it is done.
    auto write_oldest = [&]() {
        std::future<CompressedFrame>& oldest = running.front();
        while (oldest.wait_for(std::chrono::milliseconds(200)) != std::future_status::ready) {
            progress->update(shared.compressed);
        }
        CompressedFrame frame = oldest.get();
        running.pop_front();
        progress->update(shared.compressed);
        if (!frame.error.empty()) {
            *error = frame.error;
            return false;
        }
        frames[frames_written] = {written, frame.bytes.size(), plan.frames[frames_written].content_size};
        ++frames_written;
        return put(frame.bytes.data(), frame.bytes.size());
    };
    auto fail = [&]() {
        shared.stop = true;
        running.clear();   // waits for the threads, which now stop early
        return false;
    };
    size_t threads = compression.threads < 1 ? 1 : static_cast<size_t>(compression.threads);
    for (size_t f = 0; f < plan.frames.size(); ++f) {
        const PlannedFrame& planned = plan.frames[f];
        auto job = std::make_unique<FrameJob>();
        for (size_t i = planned.first_entry; i < planned.end_entry; ++i) {
            auto snapshot = std::make_unique<FileSnapshot>();
            if (!snapshot_entry(tree.files[i], settings.snapshot, snapshot.get(), error)) return fail();
            // From the snapshot, whose bytes are the ones compressed: size
            // and checksum always describe the data.
            entries[i].checksum = stored_checksum(snapshot->crc);
            job->headers.push_back(entry_header(tree.files[i].entry_name, snapshot->size, entries[i].checksum));
            job->snapshots.push_back(std::move(snapshot));
        }
        job->ends_stream = f + 1 == plan.frames.size();
        job->content_size = planned.content_size;
        if (running.size() >= threads && !write_oldest()) return fail();
        running.push_back(std::async(std::launch::async, [job = std::move(job), &compression, &shared]() {
            return compress_frame(*job, compression, &shared);
        }));
    }
    while (!running.empty()) {
        if (!write_oldest()) return fail();
    }
    std::vector<unsigned char> ending = block_ending(written);
    if (!put(ending.data(), ending.size())) return false;
    index = index_frame(frames, entries);
    if (!write_fully_at(fd, index.data(), index.size(), block_magic_size)) {
        *error = std::string("cannot write the block's index: ") + error_text(errno);
        return false;
    }
    return true;
}
