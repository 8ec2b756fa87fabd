#include <windows.h>
#include <shlobj.h>

#include "platform/platform.h"

namespace {

DWORD clamp_size(size_t capacity) { return capacity > MAXDWORD ? MAXDWORD : static_cast<DWORD>(capacity); }

}  // namespace

size_t os_module_path(char16_t* out, size_t capacity) {
    if (capacity == 0) return 0;
    auto* buffer = reinterpret_cast<LPWSTR>(out);
    DWORD size = clamp_size(capacity);
    DWORD n = GetModuleFileNameW(nullptr, buffer, size);
    if (n == 0) {
        out[0] = 0;
        return 0;
    }
    // A cut path comes back as the full buffer; older systems leave it
    // without a NUL.
    if (n >= size) {
        n = size - 1;
        out[n] = 0;
    }
    return n;
}

void os_temp_dir(char16_t* out, size_t capacity) {
    if (capacity == 0) return;
    DWORD n = GetTempPathW(clamp_size(capacity), reinterpret_cast<LPWSTR>(out));
    if (n == 0 || n >= capacity) out[0] = 0;
}

bool os_known_folder(KnownFolder which, char16_t* out, size_t capacity) {
    wchar_t folder[MAX_PATH];
    int csidl = which == KnownFolder::profile ? CSIDL_PROFILE : CSIDL_LOCAL_APPDATA;
    if (SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, folder) != S_OK) return false;
    size_t length = 0;
    while (length < MAX_PATH && folder[length] != 0) ++length;
    if (length >= MAX_PATH || length + 1 > capacity) return false;
    for (size_t i = 0; i <= length; ++i) out[i] = static_cast<char16_t>(folder[i]);
    return true;
}

size_t os_full_path(const char16_t* path, char16_t* out, size_t capacity) {
    return GetFullPathNameW(reinterpret_cast<LPCWSTR>(path), clamp_size(capacity), reinterpret_cast<LPWSTR>(out),
                            nullptr);
}
