// The size of a regular file, from stat: the file is not opened.
#include <sys/stat.h>

#include "platform/platform.h"
#include "platform/posix/convert.h"

bool os_file_size(const char16_t* path, uint64_t* size) {
    char native[native_path_capacity];
    if (!utf16_to_native(path, native, native_path_capacity)) return false;
    struct stat info;
    if (stat(native, &info) != 0 || !S_ISREG(info.st_mode)) return false;
    *size = static_cast<uint64_t>(info.st_size);
    return true;
}
