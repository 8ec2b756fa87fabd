// Files and directories on POSIX: paths are converted to UTF-8 here; the
// logic has already put the system's separator into them.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"
#include "platform/posix/convert.h"

namespace {

// The block carries no file modes, yet the application must be able to run
// the programs it ships. A file is made executable when its data starts the
// way the kernel's loaders recognise (an ELF image or a "#!" script); every
// other file is plain data. The first bytes written are kept in the handle
// so that the mode can be settled when the file is closed.
struct WriteFile {
    int fd;
    unsigned char head[4];
    uint32_t head_size;
};

WriteFile* as_file(FileHandle handle) { return static_cast<WriteFile*>(handle); }

bool looks_executable(const WriteFile* file) {
    if (file->head_size >= 2 && file->head[0] == '#' && file->head[1] == '!') return true;
    return file->head_size >= 4 && std::memcmp(file->head, "\x7f" "ELF", 4) == 0;
}

// The process's umask. The only way to learn it also sets it, which is
// harmless here: no other thread of the launcher creates files.
mode_t creation_mask() {
    mode_t mask = umask(022);
    umask(mask);
    return mask;
}

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
    auto* file = static_cast<WriteFile*>(std::malloc(sizeof(WriteFile)));
    if (file == nullptr) {
        errno = ENOMEM;
        return nullptr;
    }
    // Emptied only once no other launcher reads it: a file cut short under
    // a reader's mapping ends that reader with SIGBUS. Readers hold a shared
    // lock on the file while they map it (os_map_file). A file being read is
    // reported in use (EWOULDBLOCK), as a mapped file is on Windows, and is
    // not waited for here: a reader that stalls would hold the writer for
    // good. Once the file is empty the lock has done its work: the file only
    // grows from then on, which no mapping minds, and a writer that stalls
    // halfway must not keep another from rewriting the file (Windows shares
    // a file being written with other writers too).
    file->fd = open(native, O_WRONLY | O_CREAT | O_CLOEXEC | O_NOCTTY, 0666);
    file->head_size = 0;
    bool emptied = file->fd >= 0;
    while (emptied && flock(file->fd, LOCK_EX | LOCK_NB) != 0) emptied = errno == EINTR;
    emptied = emptied && ftruncate(file->fd, 0) == 0 && flock(file->fd, LOCK_UN) == 0;
    if (!emptied) {
        int error = errno;
        if (file->fd >= 0) close(file->fd);
        std::free(file);
        errno = error;
        return nullptr;
    }
    return file;
}

// write() may stop short of the request (a signal, a full disk); what it
// accepts is carried on until all is written or the system reports an error.
bool os_write_file(FileHandle file, const void* data, uint32_t size, uint32_t* written) {
    WriteFile* target = as_file(file);
    const auto* bytes = static_cast<const unsigned char*>(data);
    for (uint32_t i = 0; i < size && target->head_size < sizeof target->head; ++i)
        target->head[target->head_size++] = bytes[i];
    uint32_t done = 0;
    while (done < size) {
        ssize_t n = write(target->fd, bytes + done, size - done);
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

// The mode is set outright, not only widened: a file that is rewritten keeps
// the mode it had, which may no longer fit its new content.
void os_close_file(FileHandle file) {
    WriteFile* target = as_file(file);
    mode_t mode = looks_executable(target) ? 0777 : 0666;
    fchmod(target->fd, mode & ~creation_mask());
    close(target->fd);
    std::free(target);
}

// Only regular files are mapped; O_NONBLOCK keeps a FIFO of the entry's name
// from blocking the open. The shared lock, held until the view is unmapped,
// keeps another launcher from emptying the file under the mapping; a file
// that another launcher is emptying at that moment cannot be had.
bool os_map_file(const char16_t* path, FileView* view) {
    char native[native_path_capacity];
    if (!native_path(path, native)) return false;
    int fd = open(native, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return false;
    struct stat info;
    if (flock(fd, LOCK_SH | LOCK_NB) != 0 || fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size <= 0) {
        close(fd);
        return false;
    }
    void* data = mmap(nullptr, static_cast<size_t>(info.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
    if (data == MAP_FAILED) {
        close(fd);
        return false;
    }
    view->data = static_cast<const unsigned char*>(data);
    view->size = static_cast<uint64_t>(info.st_size);
    view->file = reinterpret_cast<void*>(static_cast<intptr_t>(fd) + 1);
    view->mapping = data;
    return true;
}

void os_unmap_file(FileView* view) {
    munmap(view->mapping, static_cast<size_t>(view->size));
    close(static_cast<int>(reinterpret_cast<intptr_t>(view->file) - 1));
    view->data = nullptr;
    view->size = 0;
    view->file = nullptr;
    view->mapping = nullptr;
}
