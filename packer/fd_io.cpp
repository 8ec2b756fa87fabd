#include "fd_io.h"

#include <cerrno>

#include "host.h"

ssize_t read_fully(int fd, void* buffer, size_t count) {
    auto* bytes = static_cast<unsigned char*>(buffer);
    size_t done = 0;
    while (done < count) {
        long long got = read_some(fd, bytes + done, count - done);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return -1;
        if (got == 0) break;
        done += static_cast<size_t>(got);
    }
    return static_cast<ssize_t>(done);
}

namespace {

// Writes at `offset`, or at the file offset when `at_offset` is false.
bool write_all(int fd, const void* buffer, size_t count, bool at_offset, uint64_t offset) {
    const auto* bytes = static_cast<const unsigned char*>(buffer);
    while (count > 0) {
        long long put = at_offset ? write_some_at(fd, bytes, count, offset) : write_some(fd, bytes, count);
        if (put < 0 && errno == EINTR) continue;
        if (put < 0) return false;
        if (put == 0) {
            errno = EIO;
            return false;
        }
        bytes += put;
        count -= static_cast<size_t>(put);
        offset += static_cast<uint64_t>(put);
    }
    return true;
}

}  // namespace

bool write_fully(int fd, const void* buffer, size_t count) { return write_all(fd, buffer, count, false, 0); }

bool write_fully_at(int fd, const void* buffer, size_t count, uint64_t offset) {
    return write_all(fd, buffer, count, true, offset);
}

bool read_whole_file(const std::string& path, std::string* bytes) {
    int fd = open_for_reading(path);
    if (fd < 0) return false;
    // Read at the size the file has, into memory made once: growing the
    // string chunk by chunk copies it several times over, and on a stub of
    // a few hundred KB those copies and their fresh pages cost more than
    // the read. A file that changes size meanwhile is still read whole.
    uint64_t expected = 0;
    if (!file_size(fd, &expected) || expected > bytes->max_size() / 2) expected = 0;
    bytes->resize(static_cast<size_t>(expected) + 1);
    size_t filled = 0;
    ssize_t got;
    while ((got = read_fully(fd, &(*bytes)[filled], bytes->size() - filled)) > 0) {
        filled += static_cast<size_t>(got);
        if (filled == bytes->size()) bytes->resize(bytes->size() * 2);
    }
    int saved = errno;
    bytes->resize(filled);
    close_file(fd);
    errno = saved;
    return got == 0;
}

bool read_whole_file(const std::string& path, const std::string& shown, std::string* bytes, std::string* error) {
    if (read_whole_file(path, bytes)) return true;
    *error = "cannot read " + shown + ": " + error_text(errno);
    return false;
}
