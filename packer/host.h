// Everything the packer asks of the system it runs on, kept together so that
// another host needs only another implementation of this header
// (host_posix.cpp, host_win32.cpp).
//
// Paths are UTF-8. The packer joins them with '/', which Windows takes as
// well as '\'. Failures return false (or -1) with errno set; on Windows the
// system's error is mapped to the errno value POSIX would give for the same
// situation, so that messages read the same on every host.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The characters that separate a path's parts: "/", and on Windows "\\" too.
extern const char* const path_separators;

// The directory holding the running packer, which finds its data files and
// launcher stubs relative to it; "." when the system cannot say.
std::string program_dir();

// The processors online, at least one.
int online_cores();

// Memory for a compressor's work area, which it clears or fills from end to
// end at once (its tables): on Linux mapped so that the system backs it with
// huge pages where it can, one fault for each 2 MiB in place of one for each
// 4 KiB; elsewhere from the heap. Null when there is no memory;
// free_work_area takes null too.
void* allocate_work_area(size_t size);
void free_work_area(void* area);

// The text for an errno value, worded as the GNU C library words it on every
// host, so an error line does not depend on where the packer ran.
std::string error_text(int number);

// ---- files, by descriptor ---------------------------------------------------

// Opens an existing file for reading. -1 on failure.
int open_for_reading(const std::string& path);

// Creates `path`, which must not exist, for reading and writing (EEXIST when
// it does). -1 on failure.
int create_new_file(const std::string& path);

// A nameless scratch file in `dir`, gone once closed. -1 on failure.
int create_scratch_file(const std::string& dir);

bool close_file(int fd);

// One transfer of at most `count` bytes: the number moved, 0 at end of file,
// -1 on failure (EINTR included: the callers retry).
long long read_some(int fd, void* buffer, size_t count);
long long write_some(int fd, const void* buffer, size_t count);
// At `offset`, leaving the file position alone.
long long write_some_at(int fd, const void* buffer, size_t count, uint64_t offset);

// Back to the start; `truncate_file` also empties the file.
bool rewind_file(int fd);
bool truncate_file(int fd);

bool file_size(int fd, uint64_t* size);

// Whether `fd` (0, 1 or 2) is an interactive terminal or console.
bool is_terminal(int fd);

// ---- names ---------------------------------------------------------------------

// Tells one file from another: same device or volume and same file number.
struct FileId {
    uint64_t device = 0;
    uint64_t number = 0;
    bool operator==(const FileId& other) const { return device == other.device && number == other.number; }
};

enum class FileKind { regular, directory, other };

struct FileInfo {
    FileKind kind = FileKind::other;
    bool is_link = false;     // a symbolic link (on Windows any reparse point: links, junctions)
    uint64_t size = 0;
    FileId id;
};

// What `path` names; `follow_links` looks through a link at what it points
// to (ENOENT or ELOOP for a dangling one).
bool examine(const std::string& path, bool follow_links, FileInfo* info);

// The names in a directory without "." and "..", in the order the system
// gives them. A Windows name that is not valid UTF-16 comes back as bytes
// that are not valid UTF-8, so the caller can refuse it by name.
bool list_directory(const std::string& path, std::vector<std::string>* names);

// Whether files can be created in the directory `dir` (it exists, is a
// directory, and may be written).
bool can_create_in(const std::string& dir);

bool is_absolute_path(const std::string& path);
bool current_directory(std::string* path);

// Replaces `to` with `from` in one step.
bool rename_over(const std::string& from, const std::string& to);

// Gives the file the permission bits `mode` less the user's mask (a
// permission mask means nothing on Windows, where this does nothing).
bool set_file_mode(const std::string& path, unsigned mode);

bool remove_file(const std::string& path);

// Creates a new private directory named `prefix` followed by some random
// characters; its path in `made`.
bool make_private_directory(const std::string& prefix, std::string* made);

// Removes a directory and everything in it, depth first, never following a
// link out of it. Errors are ignored: this only cleans up.
void remove_tree(const std::string& path);

// The directory for scratch files: $TMPDIR (else /tmp), or Windows' temporary
// folder.
std::string temp_directory();

// Upper-cases a name unit by unit with the simple mappings that the file
// systems Windows writes use to compare names; surrogates stay as they are.
std::u16string upper_case_units(const std::u16string& text);

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
