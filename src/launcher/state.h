// The launcher's process-wide buffers. They exist from process start to end,
// start out all zero and are never freed; each wide buffer's capacity counts
// its terminating NUL.
#pragma once

#include <cstddef>
#include <cstdint>

#include "payload/block_format.h"   // path_capacity, entry_name_capacity
#include "platform/platform.h"

inline constexpr size_t launcher_dir_capacity = path_capacity + 1;   // holds a binary_path result
inline constexpr size_t write_chunk_size = 32768;
inline constexpr size_t command_line_capacity = 32768;

using PathBuffer = char16_t[path_capacity];

extern PathBuffer target_dir;          // the unpack spec expanded and made absolute
extern PathBuffer main_exe_path;       // path of the first entry: the child's program
extern PathBuffer entry_path;          // path of the entry being unpacked
extern char16_t entry_name[entry_name_capacity];
extern unsigned char write_chunk[write_chunk_size];
extern char16_t launcher_dir[launcher_dir_capacity];
extern PathBuffer own_module_name;     // the child's argument 0
extern char16_t child_command_line[command_line_capacity];
