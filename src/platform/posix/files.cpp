// Files and directories on POSIX: paths are converted to UTF-8 here; the
// logic has already put the system's separator into them.
#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"
#include "platform/posix/convert.h"
#include "platform/posix/system_calls.h"

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

// The process's umask. The only way to learn it also sets it, so the two
// calls are made under a lock: threads that close files at the same moment
// would otherwise read each other's stand-in value and leave it in place.
// Directories are made before any writer thread starts, and every file's
// mode is set outright when it is closed, so the stand-in never shows.
mode_t creation_mask() {
    static pthread_mutex_t mask_lock = PTHREAD_MUTEX_INITIALIZER;
    pthread_mutex_lock(&mask_lock);
    mode_t mask = umask(022);
    umask(mask);
    pthread_mutex_unlock(&mask_lock);
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
    if (system_calls.mkdir(native, 0777) == 0) return DirResult::created;
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
    // Emptied only once no other launcher reads it: readers hold a shared
    // lock on the file while they read it (os_open_for_read). A file being
    // read is reported in use (EWOULDBLOCK), as on Windows, and is not
    // waited for here: a reader that stalls would hold the writer for good.
    // Once the file is empty the lock is let go: a writer that stalls
    // halfway must not keep another from rewriting the file (Windows shares
    // a file being written with other writers too), and a reader of a file
    // still growing only finds that it differs.
    file->fd = system_calls.open(native, O_WRONLY | O_CREAT | O_CLOEXEC | O_NOCTTY, 0666);
    file->head_size = 0;
    bool emptied = file->fd >= 0;
    while (emptied && system_calls.flock(file->fd, LOCK_EX | LOCK_NB) != 0) emptied = errno == EINTR;
    emptied = emptied && system_calls.ftruncate(file->fd, 0) == 0 && system_calls.flock(file->fd, LOCK_UN) == 0;
    if (!emptied) {
        int error = errno;
        if (file->fd >= 0) system_calls.close(file->fd);
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
        ssize_t n = system_calls.write(target->fd, bytes + done, size - done);
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
    system_calls.fchmod(target->fd, mode & ~creation_mask());
    system_calls.close(target->fd);
    std::free(target);
}
