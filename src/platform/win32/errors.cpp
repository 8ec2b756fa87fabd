#include <windows.h>

#include <cstdio>

#include "platform/platform.h"

static_assert(error_not_found == ERROR_FILE_NOT_FOUND && error_write_fault == ERROR_WRITE_FAULT,
              "the logic's error numbers are the system's");

uint32_t os_last_error() { return GetLastError(); }

void os_error_text(uint32_t code, char* out, size_t capacity) {
    if (capacity == 0) return;
    out[0] = 0;
    char* text = nullptr;
    DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS |
                                 FORMAT_MESSAGE_FROM_SYSTEM,
                             nullptr, code, 0x0409, reinterpret_cast<char*>(&text), 0, nullptr);
    if (n > 0 && text != nullptr) std::snprintf(out, capacity, "%s", text);
    if (text != nullptr) LocalFree(text);
}
