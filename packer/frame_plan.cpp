#include "frame_plan.h"

#include "payload/block_format.h"

FramePlan plan_frames(const std::vector<InputFile>& files, uint64_t target) {
    FramePlan plan;
    PlannedFrame frame;
    for (size_t i = 0; i < files.size(); ++i) {
        plan.entries.push_back({plan.frames.size(), frame.content_size});
        frame.content_size += entry_header_bytes(files[i].entry_name.size()) + files[i].size;
        frame.end_entry = i + 1;
        // The last entry stays with the end marker.
        if (frame.content_size >= target && i + 1 < files.size()) {
            plan.frames.push_back(frame);
            frame = PlannedFrame{i + 1, i + 1, 0};
        }
    }
    frame.content_size += end_marker_bytes;
    plan.frames.push_back(frame);
    return plan;
}
