// Unpacking an indexed block: every file is checked against the index first,
// on a few threads, and only the frames that hold files to write are decoded,
// on a few threads too, each with its own decoder. A start that finds every
// file in place decodes nothing and creates no decoder.
#pragma once

#include <cstdint>

// The whole unpack: the index is read and checked, main_exe_path set from the
// first entry, the files checked, and, under the unpack lock, checked again
// and written. Stops the launcher on any failure, as unpack_entries does.
void unpack_indexed_entries();

// Checks every entry against the disk and marks those not in place; with
// `again`, only the entries marked before.
void check_entries_in_place(bool again);

// The decoders that run at once, given the frames to decode and what the
// largest of them may allocate: one per processor up to threads_max, as many
// as fit in decoder_memory_budget, at least one.
inline constexpr uint64_t decoder_memory_budget = uint64_t{3} << 26;   // one full window and a half
uint32_t decoding_threads_for(uint32_t frames, uint64_t largest_decoder_memory);

// Decodes the frames holding marked entries and writes those entries; their
// directories exist by then.
void write_marked_entries();
