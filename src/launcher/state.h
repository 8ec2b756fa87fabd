// The launcher's process-wide state: one object, `launcher`, with static
// storage. Every buffer exists from process start to end and starts out all
// zero; each wide buffer's capacity counts its terminating NUL. The heap
// holds only what the fields point to: the decoder's window and context
// (from open_attached to close_attached), the frames and entries of an
// index (while an indexed block is unpacked; each decoding thread holds a
// decoder of its own meanwhile) and the known directories' copies.
#pragma once

#include <zstd.h>

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "payload/block_format.h"   // path_capacity, entry_name_capacity
#include "payload/index_reader.h"   // AttachedIndex
#include "platform/platform.h"

inline constexpr size_t launcher_dir_capacity = path_capacity + 1;   // holds a binary_path result
inline constexpr size_t write_chunk_size = 32768;
inline constexpr size_t command_line_capacity = 32768;
inline constexpr size_t binary_path_capacity = 4097;
inline constexpr size_t decode_window_size = 131072;
inline constexpr size_t known_dirs_capacity = 1024;
inline constexpr size_t env_value_capacity = 32768;      // the longest value the system keeps, and its NUL
inline constexpr uint32_t threads_max = 4;                // that check files or decode frames at once
inline constexpr size_t checksum_buffer_size = 1 << 20;   // each checking thread's

using PathBuffer = char16_t[path_capacity];

struct LauncherState {
    // The target and the entry being unpacked.
    PathBuffer target_dir;      // the unpack spec expanded and made absolute
    PathBuffer main_exe_path;   // path of the first entry: the child's program
    PathBuffer entry_path;      // path of the entry being unpacked
    char16_t entry_name[entry_name_capacity];
    unsigned char write_chunk[write_chunk_size];

    // The attached data reader.
    const unsigned char* attached_cursor;   // position in the block before decoding
    uint64_t attached_remaining;            // bytes of the block from attached_cursor on
    ZSTD_inBuffer decode_input;
    ZSTD_outBuffer decode_window;           // between calls: size decoded, position read
    bool window_filled;                     // the last call filled the whole window
    ZSTD_DCtx* decode_context;
    size_t input_released;                  // bytes of decode_input handed back to the system

    // Files already on disk are read into these to be checksummed, one
    // buffer per checking thread; the first also serves the single stream.
    unsigned char checksum_buffers[threads_max][checksum_buffer_size];

    // The index of an indexed block, from read_attached_index to
    // release_attached_index; its frames and entries lie on the heap.
    AttachedIndex attached_index;

    // Directories known to exist in this run: heap copies, kept to the end.
    char16_t* known_dirs[known_dirs_capacity];
    size_t known_dirs_count;

    // The unpack lock: taken at most once a run.
    DirLock held_lock;
    bool lock_tried;

    // An environment value as the system gives it, before get_env_var copies it.
    char16_t env_value[env_value_capacity];

    // The launcher's own path, asked of the system once (binary_path).
    char16_t binary_path_buffer[binary_path_capacity];
    char16_t launcher_dir[launcher_dir_capacity];   // its directory, for the child

    // The child: its arguments, its command line and, while it runs, its handle.
    PathBuffer own_module_name;   // the child's argument 0
    char16_t** child_args;        // the launcher's arguments, argument 0 replaced
    int child_arg_count;
    char16_t child_command_line[command_line_capacity];
    std::atomic<ChildHandle> child_handle;   // shared with the console control handler
    // Who may still use child_handle: 0 before a child has been started,
    // child_starting while the system starts it, n > 0 while the main
    // sequence and n - 1 handlers hold it, and child_closed (run_child.h)
    // once it has been closed.
    std::atomic<int> child_users;
};

extern LauncherState launcher;

// Puts the state back as a process starts with it, for tests that run many
// starts in one process: frees what the fields hold on the heap (the decoder,
// the known directories' copies), then empties every field. It calls no
// system service: whatever a start left open stays the test's to close.
void reset_launcher_state();
