// Reading an existing file into the caller's buffer. The share mode lets
// every other handle stay open, a running program's included.
#include <windows.h>

#include "platform/platform.h"

ReadHandle os_open_for_read(const char16_t* path) {
    HANDLE file = CreateFileW(reinterpret_cast<const wchar_t*>(path), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    // Devices and pipes answer to file names too; only a file on disk counts.
    if (GetFileType(file) != FILE_TYPE_DISK) {
        CloseHandle(file);
        return nullptr;
    }
    return file;
}

bool os_read_file(ReadHandle file, void* buffer, uint32_t capacity, uint32_t* got) {
    DWORD count = 0;
    BOOL ok = ReadFile(static_cast<HANDLE>(file), buffer, capacity, &count, nullptr);
    *got = count;
    return ok != FALSE;
}

void os_close_read(ReadHandle file) { CloseHandle(static_cast<HANDLE>(file)); }
