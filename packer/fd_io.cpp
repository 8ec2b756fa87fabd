#include "fd_io.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

ssize_t read_fully(int fd, void* buffer, size_t count) {
    auto* bytes = static_cast<unsigned char*>(buffer);
    size_t done = 0;
    while (done < count) {
        ssize_t got = read(fd, bytes + done, count - done);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return -1;
        if (got == 0) break;
        done += static_cast<size_t>(got);
    }
    return static_cast<ssize_t>(done);
}

namespace {

// Writes at `offset`, or at the file offset when `offset` is negative.
bool write_all(int fd, const void* buffer, size_t count, off_t offset) {
    const auto* bytes = static_cast<const unsigned char*>(buffer);
    while (count > 0) {
        ssize_t put = offset < 0 ? write(fd, bytes, count) : pwrite(fd, bytes, count, offset);
        if (put < 0 && errno == EINTR) continue;
        if (put < 0) return false;
        if (put == 0) {
            errno = EIO;
            return false;
        }
        bytes += put;
        count -= static_cast<size_t>(put);
        if (offset >= 0) offset += put;
    }
    return true;
}

}  // namespace

bool write_fully(int fd, const void* buffer, size_t count) { return write_all(fd, buffer, count, -1); }

bool write_fully_at(int fd, const void* buffer, size_t count, off_t offset) {
    return write_all(fd, buffer, count, offset);
}

bool read_whole_file(const std::string& path, std::string* bytes) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    bytes->clear();
    char chunk[65536];
    ssize_t got;
    while ((got = read_fully(fd, chunk, sizeof chunk)) > 0) bytes->append(chunk, static_cast<size_t>(got));
    int saved = errno;
    close(fd);
    errno = saved;
    return got == 0;
}

bool read_whole_file(const std::string& path, const std::string& shown, std::string* bytes, std::string* error) {
    if (read_whole_file(path, bytes)) return true;
    *error = "cannot read " + shown + ": " + std::strerror(errno);
    return false;
}
