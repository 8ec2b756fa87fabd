#include "payload/target_lock.h"

#include <cstdint>

#include "launcher/state.h"
#include "launcher/text.h"
#include "platform/platform.h"

namespace {

char16_t fold(char16_t unit) {
    if (unit == u'/') return u'\\';
    return unit >= u'a' && unit <= u'z' ? static_cast<char16_t>(unit - u'a' + u'A') : unit;
}

}  // namespace

void target_lock_key(const char16_t* dir, char16_t* out) {
    size_t length = text_length(dir);
    while (length > 1 && fold(dir[length - 1]) == u'\\') --length;
    // FNV-1a over both bytes of every unit.
    uint64_t hash = 0xcbf29ce484222325ull;
    for (size_t i = 0; i < length; ++i) {
        char16_t unit = fold(dir[i]);
        hash = (hash ^ (unit & 0xFFu)) * 0x100000001b3ull;
        hash = (hash ^ (unit >> 8)) * 0x100000001b3ull;
    }
    static const char prefix[] = "zembra-unpack-";
    static const char digits[] = "0123456789abcdef";
    size_t n = 0;
    for (const char* p = prefix; *p != 0; ++p) out[n++] = static_cast<char16_t>(*p);
    for (int shift = 60; shift >= 0; shift -= 4) out[n++] = static_cast<char16_t>(digits[(hash >> shift) & 0xF]);
    out[n] = 0;
}

void lock_target_dir() {
    if (launcher.lock_tried) return;
    launcher.lock_tried = true;
    char16_t key[target_lock_key_capacity];
    target_lock_key(launcher.target_dir, key);
    DirLock lock = nullptr;
    LockResult result = os_lock_dir(launcher.target_dir, key, unpack_lock_wait_ms, &lock);
    launcher.held_lock = result == LockResult::acquired ? lock : nullptr;
}

bool target_dir_lock_tried() { return launcher.lock_tried; }

void unlock_target_dir() {
    if (launcher.held_lock != nullptr) os_unlock_dir(launcher.held_lock);
    launcher.held_lock = nullptr;
    launcher.lock_tried = false;
}

FileHandle open_for_writing_under_lock(const char16_t* path) {
    constexpr uint32_t pause_ms = 10;
    constexpr int retries = 200;
    FileHandle file = os_open_for_write(path);
    bool locked = launcher.held_lock != nullptr;
    for (int i = 0; file == nullptr && locked && i < retries && os_in_use_error(os_last_error()); ++i) {
        os_sleep(pause_ms);
        file = os_open_for_write(path);
    }
    return file;
}
