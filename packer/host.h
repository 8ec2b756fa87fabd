// The few things the packer asks of the system it runs on beyond reading
// and writing files, kept together so another host needs only another
// implementation of this header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The directory holding the running packer, which finds its data files and
// launcher libraries relative to it; "." when the system cannot say.
std::string program_dir();

// The processors online, at least one.
int online_cores();

// The system this packer runs on, named as --target names a launcher's:
// "linux" or "windows".
const char* host_system();

// What is at a path, links followed.
enum class PathKind { missing, file, directory, other };
PathKind path_kind(const std::string& path);

// Creates one directory. True when it exists as a directory afterwards,
// whether made now or before; false with "cannot create directory '<path>':
// <reason>" in `error`.
bool make_directory(const std::string& path, std::string* error);

// `path` made absolute against the current directory (left as it is when
// that cannot be found); nothing else about it changes.
std::string absolute_path(const std::string& path);

// The folders a launcher built for this system finds for the user running
// the packer, with no trailing separator: false when there is none.
enum class UserFolder { home, cache, temp };
bool user_folder(UserFolder which, std::string* path);

// A file opened for reading only, read at any offset without moving a file
// position, so several readers can share one.
class ReadOnlyFile {
public:
    ReadOnlyFile() = default;
    ReadOnlyFile(const ReadOnlyFile&) = delete;
    ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;
    ~ReadOnlyFile();

    // False with "cannot read '<path>': <reason>" in `error`, or "'<path>'
    // is a directory" / "is not a regular file".
    bool open(const std::string& path, std::string* error);
    bool is_open() const { return handle_ >= 0; }
    // The size the file had when it was opened.
    uint64_t size() const { return size_; }
    // Reads up to `count` bytes at `offset`; returns how many were read
    // (fewer only at the end of the file), or -1 with the reason in `error`.
    int64_t read_at(uint64_t offset, void* buffer, size_t count, std::string* error) const;
    void close();

private:
    std::string path_;
    int64_t handle_ = -1;
    uint64_t size_ = 0;
};
