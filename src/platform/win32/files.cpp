// Files and directories through the Win32 W functions. Paths go to the
// system as they stand, without a long-path prefix: the launcher's manifest
// declares long-path awareness.
#include <windows.h>

#include "platform/platform.h"

namespace {

const wchar_t* wide(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }

}  // namespace

DirResult os_create_dir(const char16_t* path) {
    if (CreateDirectoryW(wide(path), nullptr)) return DirResult::created;
    return GetLastError() == ERROR_ALREADY_EXISTS ? DirResult::already_exists : DirResult::failed;
}

// Shared for writing only: nobody reads a file while it is half written.
FileHandle os_open_for_write(const char16_t* path) {
    HANDLE file = CreateFileW(wide(path), GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS, 0, nullptr);
    return file == INVALID_HANDLE_VALUE ? nullptr : file;
}

bool os_write_file(FileHandle file, const void* data, uint32_t size, uint32_t* written) {
    DWORD count = 0;
    BOOL ok = WriteFile(static_cast<HANDLE>(file), data, size, &count, nullptr);
    *written = count;
    return ok != FALSE;
}

void os_close_file(FileHandle file) { CloseHandle(static_cast<HANDLE>(file)); }

// Full sharing, so that a file in use by a running child can still be
// checked; the size is taken whole, also beyond 4 GiB.
bool os_map_file(const char16_t* path, FileView* view) {
    HANDLE file = CreateFileW(wide(path), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file, &size) || size.QuadPart <= 0) {
        CloseHandle(file);
        return false;
    }
    HANDLE mapping = CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
    if (mapping == nullptr) {
        CloseHandle(file);
        return false;
    }
    void* data = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
    if (data == nullptr) {
        CloseHandle(mapping);
        CloseHandle(file);
        return false;
    }
    view->data = static_cast<const unsigned char*>(data);
    view->size = static_cast<uint64_t>(size.QuadPart);
    view->file = file;
    view->mapping = mapping;
    return true;
}

void os_unmap_file(FileView* view) {
    UnmapViewOfFile(view->data);
    CloseHandle(view->mapping);
    CloseHandle(view->file);
    view->data = nullptr;
    view->size = 0;
    view->file = nullptr;
    view->mapping = nullptr;
}
