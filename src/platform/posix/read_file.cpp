// Reading an existing file into the caller's buffer. A shared lock, held
// until the file is closed, keeps another launcher from emptying it while it
// is read, and fails while another launcher is emptying it. O_NONBLOCK keeps a FIFO of the entry's name from blocking the open.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "platform/platform.h"
#include "platform/posix/convert.h"
#include "platform/posix/system_calls.h"

namespace {

// Offset by one, so that descriptor 0 is not mistaken for a failure.
int descriptor(ReadHandle file) { return static_cast<int>(reinterpret_cast<intptr_t>(file) - 1); }

}  // namespace

ReadHandle os_open_for_read(const char16_t* path) {
    char native[native_path_capacity];
    if (!utf16_to_native(path, native, native_path_capacity)) return nullptr;
    int fd = system_calls.open(native, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0);
    if (fd < 0) return nullptr;
    struct stat info;
    if (system_calls.flock(fd, LOCK_SH | LOCK_NB) != 0 || system_calls.fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        system_calls.close(fd);
        return nullptr;
    }
    posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    return reinterpret_cast<ReadHandle>(static_cast<intptr_t>(fd) + 1);
}

bool os_read_file(ReadHandle file, void* buffer, uint32_t capacity, uint32_t* got) {
    ssize_t n;
    do n = system_calls.read(descriptor(file), buffer, capacity);
    while (n < 0 && errno == EINTR);
    *got = n > 0 ? static_cast<uint32_t>(n) : 0;
    return n >= 0;
}

void os_close_read(ReadHandle file) { system_calls.close(descriptor(file)); }
