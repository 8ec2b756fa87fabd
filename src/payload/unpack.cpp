#include "payload/unpack.h"

#include "launcher/fatal.h"
#include "launcher/state.h"
#include "launcher/text.h"
#include "payload/attached.h"
#include "payload/block_format.h"
#include "payload/in_place.h"
#include "payload/target_lock.h"
#include "platform/platform.h"

namespace {

// One little-endian field of the entry stream, of `count` bytes.
uint64_t read_field(size_t count) {
    unsigned char bytes[entry_size_bytes];   // the widest field
    read_attached(bytes, count);
    return get_le(bytes, count);
}

// Reads one name, unit by unit, into entry_name; false at the end marker.
// A name that would not leave room for its terminator is damaged data: it
// must not run past the buffer.
bool read_entry_name() {
    for (size_t i = 0;; ++i) {
        char16_t unit = static_cast<char16_t>(read_field(name_unit_bytes));
        if (i == entry_name_capacity - 1 && unit != 0) fatal_message(msg_decode);
        launcher.entry_name[i] = unit;
        if (unit == 0) return i > 0;
    }
}

bool already_on_disk(uint32_t stored, uint64_t size) {
    return file_in_place(launcher.entry_path, stored, size, launcher.checksum_buffers[0]);
}

// The first entry of a run that needs writing waits for any other launcher
// writing the same directory, then looks again: that launcher may just have
// written this very file, and rewriting it now could pull it from under a
// child already running on it. It looks again also when the wait ran out:
// the holder may have written this file meanwhile, and stalled after it.
bool needs_writing(uint32_t stored, uint64_t size) {
    if (already_on_disk(stored, size)) return false;
    if (target_dir_lock_tried()) return true;
    make_parent_dirs(launcher.entry_path);
    lock_target_dir();
    return !already_on_disk(stored, size);
}

FileHandle open_entry_file() {
    make_parent_dirs(launcher.entry_path);
    FileHandle file = open_for_writing_under_lock(launcher.entry_path);
    if (file == nullptr) fatal_open_for_writing(launcher.entry_path);
    return file;
}

// Moves `size` bytes of entry data through write_chunk into `file`, or just
// decodes past them when the entry is skipped (file is null): the stream has
// no other way past an entry, but skipped bytes need no copy.
void copy_entry_data(uint64_t size, FileHandle file) {
    if (file == nullptr) {
        skip_attached(size);
        return;
    }
    while (size > 0) {
        uint32_t piece = size < write_chunk_size ? static_cast<uint32_t>(size) : static_cast<uint32_t>(write_chunk_size);
        read_attached(launcher.write_chunk, piece);
        write_entry_piece(file, launcher.write_chunk, piece);
        size -= piece;
    }
}

}  // namespace

void join_entry_path(char16_t* out, const char16_t* name, size_t name_length) {
    const char16_t* dir = launcher.target_dir;
    size_t dir_length = text_length(dir);
    if (dir_length + 1 + name_length + 1 > path_capacity) fatal_stop();
    text_copy(out, dir, path_capacity);
    out += dir_length;
    *out++ = path_separator;
    for (size_t i = 0; i < name_length; ++i) *out++ = name[i] == u'\\' ? path_separator : name[i];
    *out = 0;
}

void write_entry_piece(FileHandle file, const void* data, uint32_t size) {
    uint32_t written = 0;
    if (!os_write_file(file, data, size, &written)) fatal_exit_with_code(msg_unpack, os_last_error());
    // A short count without an error would leave a truncated file behind a
    // successful start.
    if (written != size) fatal_exit_with_code(msg_unpack, error_write_fault);
}

void unpack_entries() {
    while (read_entry_name()) {
        join_entry_path(launcher.entry_path, launcher.entry_name, text_length(launcher.entry_name));
        if (launcher.main_exe_path[0] == 0) text_copy(launcher.main_exe_path, launcher.entry_path, path_capacity);
        uint64_t size = read_field(entry_size_bytes);
        uint32_t stored = static_cast<uint32_t>(read_field(entry_checksum_bytes));
        FileHandle file = needs_writing(stored, size) ? open_entry_file() : nullptr;
        copy_entry_data(size, file);
        if (file != nullptr) os_close_file(file);
    }
    unlock_target_dir();
}
