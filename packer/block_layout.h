// The two ways a block can hold its entry stream.
//   single-frame: "QVR", one zstd frame, padding, trailer.
//   indexed: "QVR", a skippable frame holding the index, the stream cut into
//            frames at entry boundaries, padding, trailer
//            (payload/block_index.h), so a launcher can check files before
//            it decodes and decode only the frames it needs.
// A reader that knows no index reads both as the same entry stream.
#pragma once

#include <cstdint>
#include <string>

enum class BlockLayout { single_frame, indexed };

struct LayoutName {
    BlockLayout layout;
    const char* name;
};

inline constexpr LayoutName layout_names[] = {
    {BlockLayout::single_frame, "single-frame"},
    {BlockLayout::indexed, "indexed"},
};

// Content per frame of an indexed block. Larger frames compress better (long
// matches across files stay inside a frame); smaller ones let a launcher
// decode less to repair one file and spread a cold start over more threads.
// At level 19 with a 2^27 window, frames of 128 MiB cost 0.85 % over one
// frame on a 340 MB application of DLLs, 64 MiB 4.4 % and 16 MiB 13 %
// (bench/RESULTS.md), so frames reach up to the window.
inline constexpr uint64_t default_frame_target = 128ull << 20;
// Indexed, since at that frame size its block stays within 2 % of the
// single frame's.
inline constexpr BlockLayout default_layout = BlockLayout::indexed;
inline constexpr uint64_t max_frame_target = 4096ull << 20;
inline constexpr int frame_target_unit_log = 20;   // the option counts MiB

// The name of `layout`, and the layout named `name` (false if none is).
const char* layout_name(BlockLayout layout);
bool find_layout(const std::string& name, BlockLayout* layout);
// Every name, as "a or b".
std::string layout_choices();
