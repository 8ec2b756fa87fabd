// The size of a file from its attributes: no handle is opened, so no share
// mode of another process's handle stands in the way.
#include <windows.h>

#include "platform/platform.h"

bool os_file_size(const char16_t* path, uint64_t* size) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(reinterpret_cast<const wchar_t*>(path), GetFileExInfoStandard, &data)) return false;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return false;
    *size = static_cast<uint64_t>(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
    return true;
}
