#include <cstdlib>
#include <cstring>

#include "launcher/fatal.h"
#include "launcher/state.h"
#include "launcher/text.h"
#include "paths/expand_spec.h"
#include "payload/unpack.h"
#include "platform/platform.h"

namespace {

// Remembers `dir` as existing. Without memory for the copy the directory
// still exists; only the saving of later system calls is lost.
void remember_dir(const char16_t* dir) {
    if (launcher.known_dirs_count >= known_dirs_capacity) return;
    size_t bytes = (text_length(dir) + 1) * sizeof(char16_t);
    auto* copy = static_cast<char16_t*>(std::malloc(bytes));
    if (copy == nullptr) return;
    std::memcpy(copy, dir, bytes);
    launcher.known_dirs[launcher.known_dirs_count++] = copy;
}

bool is_known_dir(const char16_t* dir) {
    for (size_t i = 0; i < launcher.known_dirs_count; ++i) {
        if (text_equal(launcher.known_dirs[i], dir)) return true;
    }
    return false;
}

// The user's profile directory counts as existing from the start, so the
// walk up from a file below it never asks the system about anything above.
void seed_known_dirs() {
    PathBuffer home;
    home[0] = 0;
    if (!expand_spec(home, u"{HOME}", path_capacity)) fatal_expand_spec(u"{HOME}");
    remember_dir(home);
}

bool is_drive(const char16_t* dir) { return dir[0] != 0 && dir[1] == u':' && dir[2] == 0; }

// Cuts `path` at its last separator (never at the first unit); false when
// there is none.
bool cut_at_last_separator(char16_t* path) {
    size_t i = text_length(path);
    while (i > 1) {
        --i;
        if (path[i] == path_separator) {
            path[i] = 0;
            return true;
        }
    }
    return false;
}

}  // namespace

bool make_dir(const char16_t* dir) {
    if (launcher.known_dirs_count == 0) seed_known_dirs();
    if (is_known_dir(dir)) return true;
    if (is_drive(dir)) return true;
    if (os_create_dir(dir) == DirResult::failed) return false;
    remember_dir(dir);
    return true;
}

// Walks up from the file's parent until a directory is known, exists or can
// be made, then makes the ones below it on the way back down, the topmost
// failure first. One buffer serves every level, so the stack does not grow
// with the depth: each cut replaces a separator by a NUL, and the way down
// puts it back.
void make_parent_dirs(const char16_t* file_path) {
    PathBuffer path;
    text_copy(path, file_path, path_capacity);
    size_t depth = 0;   // path holds the file's ancestor of this level
    bool made = false;
    while (cut_at_last_separator(path)) {
        ++depth;
        if (make_dir(path)) {
            made = true;
            break;
        }
    }
    if (depth == 0) return;
    // Nothing above it could be made: try the topmost one again.
    if (!made) make_dir(path);
    for (; depth > 1; --depth) {
        path[text_length(path)] = path_separator;
        make_dir(path);
    }
}
