#include "host.h"

#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <locale.h>
#include <pwd.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <wctype.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "utf8.h"

const char* const path_separators = "/";

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

namespace {

// Each area starts with a header saying how it was made, on a boundary
// that keeps what follows aligned for any use.
struct WorkAreaHeader {
    void* mapping;   // null: from the heap
    size_t length;
};
const size_t work_area_header = 64;
static_assert(sizeof(WorkAreaHeader) <= work_area_header, "the header fits");
const size_t huge_page = 2 * 1024 * 1024;
// Smaller areas come from the heap: rounded up to a huge page, they would
// cost more than their faults.
const size_t mapped_work_area = 1024 * 1024;

}  // namespace

void* allocate_work_area(size_t size) {
    if (size > SIZE_MAX - 2 * huge_page - work_area_header) return nullptr;
    const size_t needed = size + work_area_header;
    WorkAreaHeader header{nullptr, 0};
    unsigned char* start = nullptr;
    if (size >= mapped_work_area) {
        // Mapped one huge page too long, then cut to a huge page boundary at
        // both ends, so that every 2 MiB of it can be one huge page.
        const size_t length = (needed + huge_page - 1) / huge_page * huge_page;
        void* mapped = mmap(nullptr, length + huge_page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (mapped != MAP_FAILED) {
            const uintptr_t at = reinterpret_cast<uintptr_t>(mapped);
            const uintptr_t aligned = (at + huge_page - 1) / huge_page * huge_page;
            if (aligned > at) munmap(mapped, aligned - at);
            if (aligned + length < at + length + huge_page)
                munmap(reinterpret_cast<void*>(aligned + length), at + length + huge_page - (aligned + length));
            start = reinterpret_cast<unsigned char*>(aligned);
            // Only advice: where huge pages are off, the area has small pages.
            madvise(start, length, MADV_HUGEPAGE);
            header = {start, length};
        }
    }
    if (start == nullptr) start = static_cast<unsigned char*>(std::malloc(needed));
    if (start == nullptr) return nullptr;
    std::memcpy(start, &header, sizeof header);
    return start + work_area_header;
}

void free_work_area(void* area) {
    if (area == nullptr) return;
    unsigned char* start = static_cast<unsigned char*>(area) - work_area_header;
    WorkAreaHeader header;
    std::memcpy(&header, start, sizeof header);
    if (header.mapping != nullptr)
        munmap(header.mapping, header.length);
    else
        std::free(start);
}

std::string error_text(int number) { return std::strerror(number); }

int open_for_reading(const std::string& path) { return open(path.c_str(), O_RDONLY | O_CLOEXEC); }

int create_new_file(const std::string& path) {
    return open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
}

int create_scratch_file(const std::string& dir) {
    std::string name = dir + "/packer-spill.XXXXXX";
    int fd = mkostemp(name.data(), O_CLOEXEC);
    if (fd >= 0) unlink(name.c_str());
    return fd;
}

bool close_file(int fd) { return close(fd) == 0; }

long long read_some(int fd, void* buffer, size_t count) { return read(fd, buffer, count); }

long long write_some(int fd, const void* buffer, size_t count) { return write(fd, buffer, count); }

long long write_some_at(int fd, const void* buffer, size_t count, uint64_t offset) {
    return pwrite(fd, buffer, count, static_cast<off_t>(offset));
}

bool rewind_file(int fd) { return lseek(fd, 0, SEEK_SET) == 0; }

bool truncate_file(int fd) { return ftruncate(fd, 0) == 0 && rewind_file(fd); }

bool file_size(int fd, uint64_t* size) {
    struct stat info;
    if (fstat(fd, &info) != 0) return false;
    *size = static_cast<uint64_t>(info.st_size);
    return true;
}

bool is_terminal(int fd) { return isatty(fd) == 1; }

bool examine(const std::string& path, bool follow_links, FileInfo* info) {
    struct stat status;
    if ((follow_links ? stat(path.c_str(), &status) : lstat(path.c_str(), &status)) != 0) return false;
    info->is_link = S_ISLNK(status.st_mode);
    info->kind = S_ISREG(status.st_mode) ? FileKind::regular : S_ISDIR(status.st_mode) ? FileKind::directory
                                                                                        : FileKind::other;
    info->size = static_cast<uint64_t>(status.st_size);
    info->id = {static_cast<uint64_t>(status.st_dev), static_cast<uint64_t>(status.st_ino)};
    return true;
}

bool list_directory(const std::string& path, std::vector<std::string>* names) {
    DIR* dir = opendir(path.c_str());
    if (dir == nullptr) return false;
    errno = 0;
    while (dirent* item = readdir(dir)) {
        if (std::strcmp(item->d_name, ".") != 0 && std::strcmp(item->d_name, "..") != 0) {
            names->push_back(item->d_name);
        }
        errno = 0;
    }
    const int failure = errno;
    closedir(dir);
    errno = failure;
    return failure == 0;
}

bool can_create_in(const std::string& dir) { return access(dir.c_str(), W_OK | X_OK) == 0; }

bool is_absolute_path(const std::string& path) { return !path.empty() && path[0] == '/'; }

bool current_directory(std::string* path) {
    char* cwd = getcwd(nullptr, 0);
    if (cwd == nullptr) return false;
    *path = cwd;
    free(cwd);
    return true;
}

bool rename_over(const std::string& from, const std::string& to) { return rename(from.c_str(), to.c_str()) == 0; }

bool set_file_mode(const std::string& path, unsigned mode) {
    mode_t mask = umask(0);
    umask(mask);
    return chmod(path.c_str(), static_cast<mode_t>(mode) & ~mask) == 0;
}

bool remove_file(const std::string& path) { return unlink(path.c_str()) == 0; }

bool make_private_directory(const std::string& prefix, std::string* made) {
    std::string pattern = prefix + "XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) return false;
    *made = pattern;
    return true;
}

namespace {

int remove_one(const char* path, const struct stat*, int, struct FTW*) {
    remove(path);
    return 0;
}

locale_t utf8_locale() {
    static locale_t locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
    return locale;
}

}  // namespace

void remove_tree(const std::string& path) { nftw(path.c_str(), remove_one, 16, FTW_DEPTH | FTW_PHYS); }

std::string temp_directory() {
    const char* dir = std::getenv("TMPDIR");
    return dir != nullptr && dir[0] != 0 ? dir : "/tmp";
}

std::u16string upper_case_units(const std::u16string& text) {
    // towupper in a UTF-8 locale is the table of simple upper-case mappings.
    std::u16string upper = text;
    locale_t locale = utf8_locale();
    for (char16_t& unit : upper) {
        if (unit >= 0xD800 && unit <= 0xDFFF) continue;
        if (locale != nullptr) {
            wint_t mapped = towupper_l(unit, locale);
            if (mapped <= 0xFFFF) unit = static_cast<char16_t>(mapped);
        } else if (unit >= u'a' && unit <= u'z') {
            unit = static_cast<char16_t>(unit - u'a' + u'A');
        }
    }
    return upper;
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
