// Reading an existing file into the caller's buffer. The share mode lets
// every other handle stay open, a running program's included.
#include <windows.h>

#include "platform/platform.h"
#include "platform/win32/system_calls.h"

ReadHandle os_open_for_read(const char16_t* path) {
    HANDLE file = system_calls.create_file(reinterpret_cast<const wchar_t*>(path), GENERIC_READ,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    // Devices and pipes answer to file names too; only a file on disk counts.
    if (system_calls.get_file_type(file) != FILE_TYPE_DISK) {
        system_calls.close_handle(file);
        return nullptr;
    }
    return file;
}

bool os_read_file(ReadHandle file, void* buffer, uint32_t capacity, uint32_t* got) {
    DWORD count = 0;
    BOOL ok = system_calls.read_file(static_cast<HANDLE>(file), buffer, capacity, &count, nullptr);
    *got = count;
    return ok != FALSE;
}

void os_close_read(ReadHandle file) { system_calls.close_handle(static_cast<HANDLE>(file)); }
