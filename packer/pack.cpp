#include "pack.h"

#include <cstdio>

#include "block_writer.h"
#include "entry_stream.h"
#include "host.h"
#include "indexed_block.h"
#include "output_file.h"
#include "payload/block_format.h"
#include "progress.h"
#include "tool.h"
#include "utf8.h"

namespace {

bool write_single_frame_block(const InputTree& tree, const PackSettings& settings, uint64_t stream_size,
                              Progress* progress, int fd, std::string* error) {
    BlockWriter writer;
    writer.on_progress = [&](uint64_t consumed) { progress->update(consumed); };
    if (!writer.begin(fd, settings.compression, stream_size, error)) return false;
    FileSnapshot snapshot;
    for (const InputFile& file : tree.files) {
        if (!snapshot_entry(file, settings.snapshot, &snapshot, error)) return false;
        // The header is written from the snapshot, whose bytes are the ones
        // compressed below: size and checksum always describe the data.
        std::vector<unsigned char> header = entry_header(file.entry_name, snapshot.size, stored_checksum(snapshot.crc));
        if (!writer.write(header.data(), header.size(), error)) return false;
        bool ok = replay_snapshot(
            snapshot,
            [&](const unsigned char* data, size_t size) { return writer.write(data, size, error); },
            error);
        if (!ok) return false;
    }
    std::vector<unsigned char> end = end_marker();
    return writer.write(end.data(), end.size(), error) && writer.finish(error);
}

}  // namespace

bool snapshot_entry(const InputFile& file, const SnapshotSettings& settings, FileSnapshot* snapshot,
                    std::string* error) {
    std::string shown = "'" + printable(file.relative) + "'";
    return take_snapshot(file.path, shown, file.size, settings, snapshot, error);
}

bool write_block(const InputTree& tree, const PackSettings& settings, int fd, std::string* error) {
    // The whole entry stream: names, headers, data and the end marker.
    uint64_t total = end_marker_bytes;
    for (const InputFile& file : tree.files) total += entry_header_bytes(file.entry_name.size()) + file.size;
    Progress progress(settings.show_progress, total);
    bool indexed = settings.compression.layout == BlockLayout::indexed && !tree.files.empty();
    bool ok = indexed ? write_indexed_block(tree, settings, &progress, fd, error)
                      : write_single_frame_block(tree, settings, total, &progress, fd, error);
    if (ok) progress.finish();
    return ok;
}

bool pack_directory(const std::string& input_dir, const std::string& main_relative, const PackSettings& settings,
                    const std::string& output_path, std::string* error, PackSummary* summary) {
    InputTree tree;
    if (!collect_input(input_dir, main_relative, &tree, error, settings.excludes)) return false;
    for (const std::string& warning : tree.warnings) std::fprintf(stderr, "%s: warning: %s\n", tool_name, warning.c_str());
    OutputFile output;
    if (!output.create(output_path, error) || !write_block(tree, settings, output.fd(), error)) return false;
    if (summary != nullptr) {
        *summary = PackSummary();
        summary->files = tree.files.size();
        // Every file was read at the size it was listed with.
        for (const InputFile& file : tree.files) summary->bytes_in += file.size;
        uint64_t size = 0;
        if (file_size(output.fd(), &size)) summary->block_bytes = size;
    }
    return output.commit(0666, error);
}
