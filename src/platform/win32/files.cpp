// Files and directories through the Win32 W functions. Paths go to the
// system as they stand, without a long-path prefix: the launcher's manifest
// declares long-path awareness.
#include <windows.h>

#include "platform/platform.h"
#include "platform/win32/system_calls.h"

namespace {

const wchar_t* wide(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }

}  // namespace

DirResult os_create_dir(const char16_t* path) {
    if (system_calls.create_directory(wide(path), nullptr)) return DirResult::created;
    return GetLastError() == ERROR_ALREADY_EXISTS ? DirResult::already_exists : DirResult::failed;
}

// Shared for writing only: nobody reads a file while it is half written.
FileHandle os_open_for_write(const char16_t* path) {
    HANDLE file = system_calls.create_file(wide(path), GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS, 0, nullptr);
    return file == INVALID_HANDLE_VALUE ? nullptr : file;
}

bool os_write_file(FileHandle file, const void* data, uint32_t size, uint32_t* written) {
    DWORD count = 0;
    BOOL ok = system_calls.write_file(static_cast<HANDLE>(file), data, size, &count, nullptr);
    *written = count;
    return ok != FALSE;
}

void os_close_file(FileHandle file) { system_calls.close_handle(static_cast<HANDLE>(file)); }
