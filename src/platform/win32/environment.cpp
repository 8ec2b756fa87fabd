#include <windows.h>

#include "platform/platform.h"

// The process environment block itself, which a child started without an
// environment of its own inherits (not the C runtime's copy).

size_t os_get_env(const char16_t* name, char16_t* value, size_t capacity) {
    DWORD size = capacity > MAXDWORD ? MAXDWORD : static_cast<DWORD>(capacity);
    return GetEnvironmentVariableW(reinterpret_cast<LPCWSTR>(name), reinterpret_cast<LPWSTR>(value), size);
}

bool os_set_env(const char16_t* name, const char16_t* value) {
    return SetEnvironmentVariableW(reinterpret_cast<LPCWSTR>(name), reinterpret_cast<LPCWSTR>(value)) != 0;
}
