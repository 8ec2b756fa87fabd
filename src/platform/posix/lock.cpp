// The unpack lock on POSIX: flock on the target directory itself, so the
// cache gains no file. The kernel drops the lock when its holder ends, by
// any means. flock has no timeout of its own: the lock is asked for without
// blocking, again and again, until the deadline.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <ctime>

#include "platform/platform.h"
#include "platform/posix/convert.h"
#include "platform/posix/system_calls.h"

namespace {

uint64_t monotonic_ms() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
}

}  // namespace

LockResult os_lock_dir(const char16_t* dir, const char16_t*, uint32_t timeout_ms, DirLock* lock) {
    constexpr uint32_t pause_ms = 10;
    char native[native_path_capacity];
    if (!utf16_to_native(dir, native, native_path_capacity)) return LockResult::failed;
    int fd = system_calls.open(native, O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
    if (fd < 0) return LockResult::failed;
    uint64_t deadline = monotonic_ms() + timeout_ms;
    for (;;) {
        if (system_calls.flock(fd, LOCK_EX | LOCK_NB) == 0) {
            // Offset by one, so that descriptor 0 is not mistaken for no lock.
            *lock = reinterpret_cast<DirLock>(static_cast<intptr_t>(fd) + 1);
            return LockResult::acquired;
        }
        if (errno == EINTR) continue;
        LockResult result = errno == EWOULDBLOCK ? LockResult::timed_out : LockResult::failed;
        if (result == LockResult::failed || monotonic_ms() >= deadline) {
            system_calls.close(fd);
            return result;
        }
        os_sleep(pause_ms);
    }
}

void os_unlock_dir(DirLock lock) { system_calls.close(static_cast<int>(reinterpret_cast<intptr_t>(lock) - 1)); }

// A file that another launcher maps to check it (os_map_file) cannot be
// emptied for a moment (os_open_for_write).
bool os_in_use_error(uint32_t code) { return code == EWOULDBLOCK; }

void os_sleep(uint32_t milliseconds) {
    timespec left{static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}
