#include "launcher/state.h"
#include "launcher/text.h"
#include "payload/index_reader.h"
#include "payload/indexed_unpack.h"
#include "payload/target_lock.h"
#include "payload/unpack.h"

namespace {

uint32_t first_marked() {
    for (uint32_t e = 0; e < launcher.attached_index.entry_count; ++e)
        if (launcher.attached_index.entries[e].needs_writing) return e;
    return launcher.attached_index.entry_count;
}

}  // namespace

// The lock is taken once a file needs writing, in its directory; while this
// launcher waited for it another may have written any of the files, so they
// are all checked again under it. Their directories are made here, in
// stream order, before any writer starts: the known-directory cache is this
// thread's alone.
void unpack_indexed_entries() {
    read_attached_index();
    indexed_entry_path(launcher.attached_index.entries[0], launcher.main_exe_path);
    check_entries_in_place(false);
    uint32_t first = first_marked();
    if (first < launcher.attached_index.entry_count) {
        PathBuffer path;
        indexed_entry_path(launcher.attached_index.entries[first], path);
        make_parent_dirs(path);
        lock_target_dir();
        check_entries_in_place(true);
        for (uint32_t e = first; e < launcher.attached_index.entry_count; ++e) {
            if (!launcher.attached_index.entries[e].needs_writing) continue;
            indexed_entry_path(launcher.attached_index.entries[e], path);
            make_parent_dirs(path);
        }
        write_marked_entries();
    }
    unlock_target_dir();
    release_attached_index();
}
