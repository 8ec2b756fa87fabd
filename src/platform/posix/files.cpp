// Files and directories on POSIX: paths are converted to UTF-8 here; the
// logic has already put the system's separator into them.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "platform/platform.h"
#include "platform/posix/convert.h"

namespace {

// File descriptors travel as handles offset by one, so that descriptor 0
// (possible when standard input is closed) is not mistaken for a failure.
FileHandle to_handle(int fd) { return reinterpret_cast<FileHandle>(static_cast<intptr_t>(fd) + 1); }
int to_fd(FileHandle handle) { return static_cast<int>(reinterpret_cast<intptr_t>(handle) - 1); }

bool native_path(const char16_t* path, char* out) {
    if (utf16_to_native(path, out, native_path_capacity)) return true;
    errno = ENAMETOOLONG;
    return false;
}

}  // namespace

DirResult os_create_dir(const char16_t* path) {
    char native[native_path_capacity];
    if (!native_path(path, native)) return DirResult::failed;
    if (mkdir(native, 0777) == 0) return DirResult::created;
    return errno == EEXIST ? DirResult::already_exists : DirResult::failed;
}

FileHandle os_open_for_write(const char16_t* path) {
    char native[native_path_capacity];
    if (!native_path(path, native)) return nullptr;
    int fd = open(native, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOCTTY, 0666);
    return fd < 0 ? nullptr : to_handle(fd);
}

// write() may stop short of the request (a signal, a full disk); what it
// accepts is carried on until all is written or the system reports an error.
bool os_write_file(FileHandle file, const void* data, uint32_t size, uint32_t* written) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    uint32_t done = 0;
    while (done < size) {
        ssize_t n = write(to_fd(file), bytes + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            *written = done;
            return false;
        }
        done += static_cast<uint32_t>(n);
    }
    *written = done;
    return true;
}

void os_close_file(FileHandle file) { close(to_fd(file)); }

// Only regular files are mapped; O_NONBLOCK keeps a FIFO of the entry's name
// from blocking the open.
bool os_map_file(const char16_t* path, FileView* view) {
    char native[native_path_capacity];
    if (!native_path(path, native)) return false;
    int fd = open(native, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return false;
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size <= 0) {
        close(fd);
        return false;
    }
    void* data = mmap(nullptr, static_cast<size_t>(info.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
    close(fd);   // the mapping stays valid without the descriptor
    if (data == MAP_FAILED) return false;
    view->data = static_cast<const unsigned char*>(data);
    view->size = static_cast<uint64_t>(info.st_size);
    view->file = nullptr;
    view->mapping = data;
    return true;
}

void os_unmap_file(FileView* view) {
    munmap(view->mapping, static_cast<size_t>(view->size));
    view->data = nullptr;
    view->size = 0;
    view->mapping = nullptr;
}
