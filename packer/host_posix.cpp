#include "host.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "utf8.h"

std::string program_dir() {
    char path[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) return ".";
    std::string text(path, static_cast<size_t>(length));
    return text.substr(0, text.rfind('/'));
}

int online_cores() {
    long cores = sysconf(_SC_NPROCESSORS_ONLN);
    return cores < 1 ? 1 : static_cast<int>(cores);
}

const char* host_system() { return "linux"; }

PathKind path_kind(const std::string& path) {
    struct stat info;
    if (stat(path.c_str(), &info) != 0) return PathKind::missing;
    if (S_ISREG(info.st_mode)) return PathKind::file;
    if (S_ISDIR(info.st_mode)) return PathKind::directory;
    return PathKind::other;
}

bool make_directory(const std::string& path, std::string* error) {
    if (mkdir(path.c_str(), 0777) == 0) return true;
    const int reason = errno;
    if (reason == EEXIST && path_kind(path) == PathKind::directory) return true;
    *error = "cannot create directory '" + printable(path) + "': " +
             (reason == EEXIST ? std::string("a file of that name is in the way") : std::strerror(reason));
    return false;
}

std::string absolute_path(const std::string& path) {
    if (!path.empty() && path[0] == '/') return path;
    char* cwd = getcwd(nullptr, 0);
    if (cwd == nullptr) return path;
    std::string absolute = std::string(cwd) + "/" + path;
    std::free(cwd);
    return absolute;
}

namespace {

// A set, non-empty variable's value, or null.
const char* variable(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && value[0] != 0 ? value : nullptr;
}

std::string without_trailing_slashes(std::string path) {
    while (!path.empty() && path.back() == '/') path.pop_back();
    return path;
}

}  // namespace

// The rules the Linux launcher follows for the same folders.
bool user_folder(UserFolder which, std::string* path) {
    if (which == UserFolder::temp) {
        *path = without_trailing_slashes(variable("TMPDIR") ? variable("TMPDIR") : "/tmp");
        return true;
    }
    const char* cache = variable("XDG_CACHE_HOME");
    if (which == UserFolder::cache && cache != nullptr && cache[0] == '/') {
        *path = without_trailing_slashes(cache);
        return true;
    }
    std::string home;
    if (const char* set = variable("HOME")) {
        home = set;
    } else if (const passwd* entry = getpwuid(getuid()); entry != nullptr && entry->pw_dir != nullptr) {
        home = entry->pw_dir;
    }
    if (home.empty()) return false;
    *path = without_trailing_slashes(home) + (which == UserFolder::cache ? "/.cache" : "");
    return true;
}

ReadOnlyFile::~ReadOnlyFile() { close(); }

bool ReadOnlyFile::open(const std::string& path, std::string* error) {
    close();
    path_ = path;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat info;
    if (fd < 0 || fstat(fd, &info) != 0) {
        *error = "cannot read '" + printable(path) + "': " + std::strerror(errno);
        if (fd >= 0) ::close(fd);
        return false;
    }
    if (!S_ISREG(info.st_mode)) {
        *error = "'" + printable(path) + "' " + (S_ISDIR(info.st_mode) ? "is a directory" : "is not a regular file");
        ::close(fd);
        return false;
    }
    handle_ = fd;
    size_ = static_cast<uint64_t>(info.st_size);
    return true;
}

int64_t ReadOnlyFile::read_at(uint64_t offset, void* buffer, size_t count, std::string* error) const {
    auto* bytes = static_cast<unsigned char*>(buffer);
    size_t done = 0;
    while (done < count) {
        ssize_t got = pread(static_cast<int>(handle_), bytes + done, count - done, static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            *error = "cannot read '" + printable(path_) + "': " + std::strerror(errno);
            return -1;
        }
        if (got == 0) break;
        done += static_cast<size_t>(got);
    }
    return static_cast<int64_t>(done);
}

void ReadOnlyFile::close() {
    if (handle_ >= 0) ::close(static_cast<int>(handle_));
    handle_ = -1;
    size_ = 0;
}
