// The unpack lock on POSIX: flock on the target directory itself, so the
// cache gains no file. The kernel drops the lock when its holder ends, by
// any means.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <ctime>

#include "platform/platform.h"
#include "platform/posix/convert.h"

DirLock os_lock_dir(const char16_t* dir, const char16_t*) {
    char native[native_path_capacity];
    if (!utf16_to_native(dir, native, native_path_capacity)) return nullptr;
    int fd = open(native, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    while (flock(fd, LOCK_EX) != 0) {
        if (errno != EINTR) {
            close(fd);
            return nullptr;
        }
    }
    // Offset by one, so that descriptor 0 is not mistaken for a failure.
    return reinterpret_cast<DirLock>(static_cast<intptr_t>(fd) + 1);
}

void os_unlock_dir(DirLock lock) { close(static_cast<int>(reinterpret_cast<intptr_t>(lock) - 1)); }

// POSIX has no share modes: an open never waits for a reader.
bool os_in_use_error(uint32_t) { return false; }

void os_sleep(uint32_t milliseconds) {
    timespec left{static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}
