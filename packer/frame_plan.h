// Where an indexed block cuts its entry stream into frames. Frames begin and
// end at entry boundaries, so a launcher can decode one frame alone and find
// whole entries in it; the last frame also holds the end marker.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "input_tree.h"

struct PlannedFrame {
    size_t first_entry = 0;     // index into the tree's files
    size_t end_entry = 0;       // one past its last entry
    uint64_t content_size = 0;  // its part of the entry stream, end marker included in the last
};

struct PlannedEntry {
    size_t frame = 0;
    uint64_t offset = 0;        // where its name starts in its frame's content
};

struct FramePlan {
    std::vector<PlannedFrame> frames;    // at least one
    std::vector<PlannedEntry> entries;   // one per file, in stream order
};

// A frame closes at the first entry boundary at or past `target` bytes of
// content, so a file larger than the target ends the frame it starts in.
// Sizes are the listed ones: the pack fails if a file's size changes.
FramePlan plan_frames(const std::vector<InputFile>& files, uint64_t target);
