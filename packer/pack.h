// Packing: a directory becomes an attached data block.
#pragma once

#include <string>
#include <vector>

#include "frame_encoder.h"
#include "file_snapshot.h"
#include "input_tree.h"
#include "pack_summary.h"
#include "progress.h"

struct PackSettings {
    CompressionSettings compression;
    SnapshotSettings snapshot;
    bool show_progress = false;
    std::vector<std::string> excludes;   // patterns of paths left out (exclude.h)
};

// Reads `file` once, naming it by its relative path in `error` when it cannot
// be read or is no longer the size it was listed with.
bool snapshot_entry(const InputFile& file, const SnapshotSettings& settings, FileSnapshot* snapshot,
                    std::string* error);

// Writes the block for the collected files to `fd`, reading each file once,
// in the layout the settings ask for. With no file at all there is nothing to
// index, and the block is a single frame holding only the end marker.
bool write_block(const InputTree& tree, const PackSettings& settings, int fd, std::string* error);

// Collects `input_dir` (warnings go to standard error), then writes the
// block to `output_path`, which appears only when the block is complete.
// Fills `summary`, when given, with what went in and the block's size.
bool pack_directory(const std::string& input_dir, const std::string& main_relative, const PackSettings& settings,
                    const std::string& output_path, std::string* error, PackSummary* summary = nullptr);
