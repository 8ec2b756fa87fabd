#include "host.h"

#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <shlobj.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <random>

#include "host_win32.h"
#include "utf8.h"

std::atomic<bool> interrupt_in_progress{false};

const char* const path_separators = "/\\";

namespace {

// ---- text ---------------------------------------------------------------------

// UTF-8 to UTF-16, taking the three-byte forms of surrogates too (what
// `narrow` makes of a lone one), so every name listed can be opened again.
std::wstring widen(const std::string& text) {
    std::wstring out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const unsigned char lead = static_cast<unsigned char>(text[i]);
        const size_t extra = lead < 0x80 ? 0 : lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : 4;
        if (extra == 4 || i + extra >= text.size()) {
            out.push_back(0xFFFD);
            ++i;
            continue;
        }
        uint32_t value = extra == 0 ? lead : lead & (0x3F >> extra);
        for (size_t k = 1; k <= extra; ++k) value = value << 6 | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        i += extra + 1;
        if (value >= 0x10000) {
            value -= 0x10000;
            out.push_back(static_cast<wchar_t>(0xD800 + (value >> 10)));
            out.push_back(static_cast<wchar_t>(0xDC00 + (value & 0x3FF)));
        } else {
            out.push_back(static_cast<wchar_t>(value));
        }
    }
    return out;
}

// ---- errors --------------------------------------------------------------------

bool is_directory(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Windows says "path not found" where POSIX says "not a directory" when a
// file stands where a directory should be: looks for one among the parents.
bool file_among_parents(const std::wstring& path) {
    for (size_t end = path.rfind(L'\\'); end != std::wstring::npos && end > 7; end = path.rfind(L'\\', end - 1)) {
        const std::wstring parent = path.substr(0, end);
        DWORD attributes = GetFileAttributesW(parent.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES) return (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    }
    return false;
}

int errno_for(DWORD code, const std::wstring& path) {
    switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_INVALID_DRIVE:
    case ERROR_NOT_READY:
        return !path.empty() && file_among_parents(path) ? ENOTDIR : ENOENT;
    case ERROR_DIRECTORY: return ENOTDIR;
    case ERROR_ACCESS_DENIED:
        return !path.empty() && is_directory(path) ? EISDIR : EACCES;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT:
    case ERROR_PRIVILEGE_NOT_HELD: return EACCES;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS: return EEXIST;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return ENOSPC;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY: return ENOMEM;
    case ERROR_FILENAME_EXCED_RANGE: return ENAMETOOLONG;
    case ERROR_CANT_RESOLVE_FILENAME: return ELOOP;
    case ERROR_INVALID_HANDLE: return EBADF;
    case ERROR_NOT_SAME_DEVICE: return EXDEV;
    case ERROR_DIR_NOT_EMPTY: return ENOTEMPTY;
    case ERROR_BROKEN_PIPE:
    case ERROR_NO_DATA: return EPIPE;
    case ERROR_TOO_MANY_OPEN_FILES: return EMFILE;
    case ERROR_INVALID_PARAMETER: return EINVAL;
    default: return EIO;
    }
}

// Records the last system error as errno and fails. While an interrupt is
// handled, waits for the handler to end the process instead.
bool failed(const std::wstring& path = std::wstring()) {
    const DWORD code = GetLastError();
    if (interrupt_in_progress.load()) Sleep(INFINITE);
    errno = errno_for(code, path);
    return false;
}

// The same with errno given.
bool failed_with(int number) {
    if (interrupt_in_progress.load()) Sleep(INFINITE);
    errno = number;
    return false;
}

long long transfer_failed() {
    failed();
    return -1;
}

// What the system says of a name that is there but is no file or directory.
bool is_device_error(DWORD code) {
    return code == ERROR_INVALID_PARAMETER || code == ERROR_INVALID_FUNCTION || code == ERROR_NOT_SUPPORTED ||
           code == ERROR_GEN_FAILURE || code == ERROR_BAD_DEVICE || code == ERROR_PIPE_BUSY;
}

// ---- open files ------------------------------------------------------------------

// Every handle the packer has open, so the interrupt handler can close them
// before it removes the files.
std::atomic<HANDLE> open_handles[256];

void remember(HANDLE handle) {
    for (std::atomic<HANDLE>& slot : open_handles) {
        HANDLE empty = nullptr;
        if (slot.compare_exchange_strong(empty, handle)) return;
    }
}

void forget(HANDLE handle) {
    for (std::atomic<HANDLE>& slot : open_handles) {
        HANDLE expected = handle;
        if (slot.compare_exchange_strong(expected, nullptr)) return;
    }
}

HANDLE handle_of(int fd) { return reinterpret_cast<HANDLE>(_get_osfhandle(fd)); }

// A descriptor for an open handle, or -1 (closing the handle).
int descriptor(HANDLE handle, const std::wstring& path) {
    if (handle == INVALID_HANDLE_VALUE) {
        failed(path);
        return -1;
    }
    int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_BINARY);
    if (fd < 0) {
        CloseHandle(handle);
        errno = EMFILE;
        return -1;
    }
    remember(handle);
    // Opened while the interrupt handler closes every file: this one would
    // be missed, so it waits for the end with the others.
    if (interrupt_in_progress.load()) Sleep(INFINITE);
    return fd;
}

const DWORD share_all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

std::string random_suffix() {
    static const char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    static std::mt19937 pick(std::random_device{}() ^ GetCurrentProcessId());
    std::string suffix;
    for (int i = 0; i < 8; ++i) suffix += letters[pick() % (sizeof letters - 1)];
    return suffix;
}

}  // namespace

// ---- shared with the interrupt handling ------------------------------------------

std::string narrow(const wchar_t* text, size_t length) {
    std::string out;
    out.reserve(length);
    for (size_t i = 0; i < length; ++i) {
        uint32_t unit = static_cast<uint16_t>(text[i]);
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < length) {
            const uint32_t low = static_cast<uint16_t>(text[i + 1]);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            }
        }
        append_utf8(&out, unit);
    }
    return out;
}

std::wstring system_path(const std::string& path) {
    std::wstring text = widen(path);
    for (wchar_t& c : text) {
        if (c == L'/') c = L'\\';
    }
    if (text.compare(0, 4, L"\\\\?\\") == 0) return text;
    // The root the path starts from, and the rest of it.
    std::wstring root, rest;
    if (text.size() >= 2 && text[0] == L'\\' && text[1] == L'\\') {   // \\server\share\...
        size_t server_end = text.find(L'\\', 2);
        size_t share_end = server_end == std::wstring::npos ? server_end : text.find(L'\\', server_end + 1);
        root = L"UNC\\" + text.substr(2, share_end == std::wstring::npos ? std::wstring::npos : share_end - 2);
        rest = share_end == std::wstring::npos ? L"" : text.substr(share_end);
    } else if (text.size() >= 3 && text[1] == L':' && text[2] == L'\\') {   // C:\...
        root = text.substr(0, 2);
        rest = text.substr(2);
    } else {
        // Relative to the current directory, to its drive's root ("\x"), or
        // to a drive's current directory ("C:x"): the system resolves those.
        DWORD size = GetFullPathNameW(text.empty() ? L"." : text.c_str(), 0, nullptr, nullptr);
        std::wstring full(size, L'\0');
        size = GetFullPathNameW(text.empty() ? L"." : text.c_str(), size, &full[0], nullptr);
        full.resize(size);
        if (size == 0 || full.compare(0, 4, L"\\\\?\\") == 0 || full.compare(0, 4, L"\\\\.\\") == 0) return full;
        // The system drops trailing dots and spaces of the last part; keep them.
        size_t kept = text.find_last_of(L'\\');
        std::wstring last = text.substr(kept == std::wstring::npos ? (text.size() > 1 && text[1] == L':' ? 2 : 0)
                                                                   : kept + 1);
        std::wstring base = full;
        if (!last.empty() && last != L"." && last != L"..") {
            size_t cut = full.find_last_of(L'\\');
            base = full.substr(0, cut) + L"\\" + last;
        }
        return system_path(narrow(base.data(), base.size()));
    }
    std::wstring result = L"\\\\?\\" + root;
    std::wstring parts;
    size_t at = 0;
    std::vector<std::wstring> stack;
    while (at <= rest.size()) {
        size_t end = rest.find(L'\\', at);
        if (end == std::wstring::npos) end = rest.size();
        std::wstring part = rest.substr(at, end - at);
        if (part == L"..") {
            if (!stack.empty()) stack.pop_back();
        } else if (!part.empty() && part != L".") {
            stack.push_back(part);
        }
        at = end + 1;
    }
    for (const std::wstring& part : stack) result += L"\\" + part;
    if (stack.empty()) result += L"\\";
    return result;
}

void close_all_files() {
    for (std::atomic<HANDLE>& slot : open_handles) {
        HANDLE handle = slot.exchange(nullptr);
        if (handle != nullptr) CloseHandle(handle);
    }
}

// ---- host.h ---------------------------------------------------------------------

std::string program_dir() {
    std::wstring path(32768, L'\0');
    DWORD length = GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()));
    if (length == 0 || length >= path.size()) return ".";
    path.resize(length);
    size_t slash = path.find_last_of(L"\\/");
    if (slash == std::wstring::npos) return ".";
    return narrow(path.data(), slash);
}

int online_cores() {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return info.dwNumberOfProcessors < 1 ? 1 : static_cast<int>(info.dwNumberOfProcessors);
}

// Large pages on Windows need a privilege that users do not have.
void* allocate_work_area(size_t size) { return std::malloc(size == 0 ? 1 : size); }
void free_work_area(void* area) { std::free(area); }

std::string error_text(int number) {
    // The GNU C library's wording; the Windows C runtime words some of these
    // differently and knows no text for others.
    switch (number) {
    case EPERM: return "Operation not permitted";
    case ENOENT: return "No such file or directory";
    case EINTR: return "Interrupted system call";
    case EIO: return "Input/output error";
    case EBADF: return "Bad file descriptor";
    case ENOMEM: return "Cannot allocate memory";
    case EACCES: return "Permission denied";
    case EBUSY: return "Device or resource busy";
    case EEXIST: return "File exists";
    case EXDEV: return "Invalid cross-device link";
    case ENOTDIR: return "Not a directory";
    case EISDIR: return "Is a directory";
    case EINVAL: return "Invalid argument";
    case EMFILE: return "Too many open files";
    case EFBIG: return "File too large";
    case ENOSPC: return "No space left on device";
    case ESPIPE: return "Illegal seek";
    case EROFS: return "Read-only file system";
    case EPIPE: return "Broken pipe";
    case ENAMETOOLONG: return "File name too long";
    case ENOTEMPTY: return "Directory not empty";
    case ELOOP: return "Too many levels of symbolic links";
    default: return std::strerror(number);
    }
}

int open_for_reading(const std::string& path) {
    const std::wstring name = system_path(path);
    return descriptor(CreateFileW(name.c_str(), GENERIC_READ, share_all, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr),
                      name);
}

int create_new_file(const std::string& path) {
    const std::wstring name = system_path(path);
    return descriptor(CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                  nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr),
                      name);
}

int create_scratch_file(const std::string& dir) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::wstring name = system_path(dir + "/packer-spill." + random_suffix());
        HANDLE handle = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, share_all, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        if (handle == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_EXISTS) continue;
        return descriptor(handle, system_path(dir));
    }
    errno = EEXIST;
    return -1;
}

bool close_file(int fd) {
    forget(handle_of(fd));
    return _close(fd) == 0;
}

long long read_some(int fd, void* buffer, size_t count) {
    DWORD got = 0;
    const DWORD want = count > (1u << 30) ? (1u << 30) : static_cast<DWORD>(count);
    if (ReadFile(handle_of(fd), buffer, want, &got, nullptr)) return got;
    if (GetLastError() == ERROR_HANDLE_EOF || GetLastError() == ERROR_BROKEN_PIPE) return 0;
    return transfer_failed();
}

long long write_some(int fd, const void* buffer, size_t count) {
    DWORD put = 0;
    const DWORD want = count > (1u << 30) ? (1u << 30) : static_cast<DWORD>(count);
    if (WriteFile(handle_of(fd), buffer, want, &put, nullptr)) return put;
    return transfer_failed();
}

long long write_some_at(int fd, const void* buffer, size_t count, uint64_t offset) {
    // A positioned write moves a synchronous handle's file pointer: put it back.
    HANDLE handle = handle_of(fd);
    LARGE_INTEGER zero{}, position{};
    if (!SetFilePointerEx(handle, zero, &position, FILE_CURRENT)) return transfer_failed();
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD put = 0;
    const DWORD want = count > (1u << 30) ? (1u << 30) : static_cast<DWORD>(count);
    const bool ok = WriteFile(handle, buffer, want, &put, &at);
    if (!ok) return transfer_failed();
    if (!SetFilePointerEx(handle, position, nullptr, FILE_BEGIN)) return transfer_failed();
    return put;
}

bool rewind_file(int fd) {
    LARGE_INTEGER zero{};
    return SetFilePointerEx(handle_of(fd), zero, nullptr, FILE_BEGIN) || failed();
}

bool truncate_file(int fd) { return rewind_file(fd) && (SetEndOfFile(handle_of(fd)) || failed()); }

bool file_size(int fd, uint64_t* size) {
    LARGE_INTEGER value;
    if (!GetFileSizeEx(handle_of(fd), &value)) return failed();
    *size = static_cast<uint64_t>(value.QuadPart);
    return true;
}

bool is_terminal(int fd) {
    DWORD mode;
    HANDLE handle = handle_of(fd);
    return GetFileType(handle) == FILE_TYPE_CHAR && GetConsoleMode(handle, &mode);
}

bool examine(const std::string& path, bool follow_links, FileInfo* info) {
    const std::wstring name = system_path(path);
    const DWORD attributes = GetFileAttributesW(name.c_str());
    *info = FileInfo();
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        // A name its directory lists but that cannot be found is a link to
        // nothing (so Wine shows a dangling Unix link); one that is there
        // but cannot be asked is a device, pipe or the like.
        const DWORD code = GetLastError();
        const bool device = is_device_error(code);
        WIN32_FIND_DATAW found;
        HANDLE search = code == ERROR_FILE_NOT_FOUND || device ? FindFirstFileW(name.c_str(), &found)
                                                               : INVALID_HANDLE_VALUE;
        if (search == INVALID_HANDLE_VALUE) {
            SetLastError(code);
            return failed(name);
        }
        FindClose(search);
        if (device) return true;
        if (follow_links) return failed_with(ENOENT);
        info->is_link = true;
        return true;
    }
    // Links and junctions are reparse points; opening one goes through it.
    const bool is_link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    if (is_link && !follow_links) {
        info->is_link = true;
        return true;
    }
    HANDLE handle = CreateFileW(name.c_str(), FILE_READ_ATTRIBUTES, share_all, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        // Something that is there but cannot be opened as a file or a
        // directory is a device, pipe or the like.
        return is_device_error(GetLastError()) || failed(name);
    }
    BY_HANDLE_FILE_INFORMATION details;
    const bool disk = GetFileType(handle) == FILE_TYPE_DISK;
    const bool known = GetFileInformationByHandle(handle, &details);
    const DWORD code = GetLastError();
    CloseHandle(handle);
    if (!known) {
        SetLastError(code);
        return failed(name);
    }
    info->kind = !disk ? FileKind::other
                 : (details.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? FileKind::directory
                                                                              : FileKind::regular;
    if ((details.dwFileAttributes & FILE_ATTRIBUTE_DEVICE) != 0) info->kind = FileKind::other;
    info->size = info->kind == FileKind::regular
                     ? (static_cast<uint64_t>(details.nFileSizeHigh) << 32 | details.nFileSizeLow)
                     : 0;
    info->id = {details.dwVolumeSerialNumber,
                static_cast<uint64_t>(details.nFileIndexHigh) << 32 | details.nFileIndexLow};
    return true;
}

bool list_directory(const std::string& path, std::vector<std::string>* names) {
    const std::wstring dir = system_path(path);
    const std::wstring pattern = dir + (dir.back() == L'\\' ? L"*" : L"\\*");
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr,
                                     FIND_FIRST_EX_LARGE_FETCH);
    if (search == INVALID_HANDLE_VALUE) {
        if (GetLastError() == ERROR_FILE_NOT_FOUND && is_directory(dir)) return true;
        // Listing a file: what POSIX says of opening it as a directory.
        if (GetLastError() == ERROR_DIRECTORY ||
            (GetLastError() == ERROR_PATH_NOT_FOUND && GetFileAttributesW(dir.c_str()) != INVALID_FILE_ATTRIBUTES)) {
            return failed_with(ENOTDIR);
        }
        return failed(dir);
    }
    do {
        if (std::wcscmp(found.cFileName, L".") != 0 && std::wcscmp(found.cFileName, L"..") != 0) {
            names->push_back(narrow(found.cFileName, std::wcslen(found.cFileName)));
        }
    } while (FindNextFileW(search, &found));
    const DWORD code = GetLastError();
    FindClose(search);
    if (code != ERROR_NO_MORE_FILES) {
        SetLastError(code);
        return failed(dir);
    }
    return true;
}

bool can_create_in(const std::string& dir) {
    // Whether the directory may be written shows only when a file is made in
    // it; here it must exist and be a directory.
    const std::wstring name = system_path(dir);
    const DWORD attributes = GetFileAttributesW(name.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return failed(name);
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 || failed_with(ENOTDIR);
}

bool is_absolute_path(const std::string& path) {
    if (!path.empty() && (path[0] == '/' || path[0] == '\\')) return true;
    return path.size() >= 3 && path[1] == ':' && (path[2] == '/' || path[2] == '\\');
}

bool current_directory(std::string* path) {
    DWORD size = GetCurrentDirectoryW(0, nullptr);
    std::wstring dir(size, L'\0');
    size = GetCurrentDirectoryW(size, &dir[0]);
    if (size == 0) return failed();
    *path = narrow(dir.data(), size);
    return true;
}

bool rename_over(const std::string& from, const std::string& to) {
    const std::wstring source = system_path(from), destination = system_path(to);
    return MoveFileExW(source.c_str(), destination.c_str(), MOVEFILE_REPLACE_EXISTING) || failed(destination);
}

bool set_file_mode(const std::string&, unsigned) { return true; }

bool remove_file(const std::string& path) {
    const std::wstring name = system_path(path);
    return DeleteFileW(name.c_str()) || failed(name);
}

bool make_private_directory(const std::string& prefix, std::string* made) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string path = prefix + random_suffix();
        const std::wstring name = system_path(path);
        if (CreateDirectoryW(name.c_str(), nullptr)) {
            *made = path;
            return true;
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS) return failed(name);
    }
    errno = EEXIST;
    return false;
}

namespace {

void remove_tree_at(const std::wstring& dir) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileExW((dir + L"\\*").c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (std::wcscmp(found.cFileName, L".") == 0 || std::wcscmp(found.cFileName, L"..") == 0) continue;
            const std::wstring path = dir + L"\\" + found.cFileName;
            const DWORD attributes = found.dwFileAttributes;
            if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) {
                SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
            }
            if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
                DeleteFileW(path.c_str());
            } else if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
                RemoveDirectoryW(path.c_str());   // the link or junction, not what it leads to
            } else {
                remove_tree_at(path);
            }
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    RemoveDirectoryW(dir.c_str());
}

}  // namespace

void remove_tree(const std::string& path) { remove_tree_at(system_path(path)); }

std::string temp_directory() {
    wchar_t dir[MAX_PATH + 2];
    DWORD length = GetTempPathW(MAX_PATH + 2, dir);
    if (length == 0 || length > MAX_PATH + 1) return ".";
    while (length > 3 && (dir[length - 1] == L'\\' || dir[length - 1] == L'/')) --length;
    return narrow(dir, length);
}

std::u16string upper_case_units(const std::u16string& text) {
    std::u16string upper = text;
    for (char16_t& unit : upper) {
        if (unit >= 0xD800 && unit <= 0xDFFF) continue;
        wchar_t in = static_cast<wchar_t>(unit), out = in;
        if (LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, &in, 1, &out, 1, nullptr, nullptr, 0) == 1) {
            unit = static_cast<char16_t>(out);
        }
    }
    return upper;
}

// ---- what looking into a launcher needs -------------------------------------------

const char* host_system() { return "windows"; }

PathKind path_kind(const std::string& path) {
    FileInfo info;
    if (!examine(path, true, &info)) return PathKind::missing;
    if (info.kind == FileKind::regular) return PathKind::file;
    if (info.kind == FileKind::directory) return PathKind::directory;
    return PathKind::other;
}

bool make_directory(const std::string& path, std::string* error) {
    const std::wstring name = system_path(path);
    if (CreateDirectoryW(name.c_str(), nullptr)) return true;
    const DWORD code = GetLastError();
    if (code == ERROR_ALREADY_EXISTS && path_kind(path) == PathKind::directory) return true;
    const int reason = errno_for(code, name);
    *error = "cannot create directory '" + printable(path) + "': " +
             (reason == EEXIST ? std::string("a file of that name is in the way") : error_text(reason));
    return false;
}

std::string absolute_path(const std::string& path) {
    const std::wstring wide = widen(path);
    DWORD size = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (size == 0) return path;
    std::wstring full(size, L'\0');
    size = GetFullPathNameW(wide.c_str(), size, &full[0], nullptr);
    if (size == 0 || size >= full.size()) return path;
    return narrow(full.data(), size);
}

// The folders the Windows launcher asks for.
bool user_folder(UserFolder which, std::string* path) {
    wchar_t folder[MAX_PATH + 2];
    size_t length = 0;
    if (which == UserFolder::temp) {
        const DWORD got = GetTempPathW(MAX_PATH + 2, folder);
        if (got == 0 || got > MAX_PATH + 1) return false;
        length = got;
    } else {
        const int csidl = which == UserFolder::home ? CSIDL_PROFILE : CSIDL_LOCAL_APPDATA;
        if (SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, folder) != S_OK) return false;
        length = std::wcslen(folder);
    }
    while (length > 0 && (folder[length - 1] == L'\\' || folder[length - 1] == L'/')) --length;
    if (length == 0) return false;
    *path = narrow(folder, length);
    return true;
}

ReadOnlyFile::~ReadOnlyFile() { close(); }

bool ReadOnlyFile::open(const std::string& path, std::string* error) {
    close();
    path_ = path;
    FileInfo info;
    if (!examine(path, true, &info)) {
        *error = "cannot read '" + printable(path) + "': " + error_text(errno);
        return false;
    }
    if (info.kind != FileKind::regular) {
        *error = "'" + printable(path) + "' " +
                 (info.kind == FileKind::directory ? "is a directory" : "is not a regular file");
        return false;
    }
    const std::wstring name = system_path(path);
    HANDLE handle = CreateFileW(name.c_str(), GENERIC_READ, share_all, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    LARGE_INTEGER size{};
    if (handle == INVALID_HANDLE_VALUE || !GetFileSizeEx(handle, &size)) {
        const DWORD code = GetLastError();
        if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
        *error = "cannot read '" + printable(path) + "': " + error_text(errno_for(code, name));
        return false;
    }
    remember(handle);
    handle_ = reinterpret_cast<intptr_t>(handle);
    size_ = static_cast<uint64_t>(size.QuadPart);
    return true;
}

int64_t ReadOnlyFile::read_at(uint64_t offset, void* buffer, size_t count, std::string* error) const {
    HANDLE handle = reinterpret_cast<HANDLE>(static_cast<intptr_t>(handle_));
    auto* bytes = static_cast<unsigned char*>(buffer);
    size_t done = 0;
    while (done < count) {
        const uint64_t at_offset = offset + done;
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(at_offset);
        at.OffsetHigh = static_cast<DWORD>(at_offset >> 32);
        const size_t left = count - done;
        const DWORD want = left > (1u << 30) ? (1u << 30) : static_cast<DWORD>(left);
        DWORD got = 0;
        if (!ReadFile(handle, bytes + done, want, &got, &at)) {
            const DWORD code = GetLastError();
            if (code == ERROR_HANDLE_EOF) break;
            *error = "cannot read '" + printable(path_) + "': " + error_text(errno_for(code, std::wstring()));
            return -1;
        }
        if (got == 0) break;
        done += got;
    }
    return static_cast<int64_t>(done);
}

void ReadOnlyFile::close() {
    if (handle_ >= 0) {
        HANDLE handle = reinterpret_cast<HANDLE>(static_cast<intptr_t>(handle_));
        forget(handle);
        CloseHandle(handle);
    }
    handle_ = -1;
    size_ = 0;
}
