#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/platform.h"

uint32_t os_last_error() { return static_cast<uint32_t>(errno); }

void os_error_text(uint32_t code, char* out, size_t capacity) {
    if (capacity == 0) return;
    std::snprintf(out, capacity, "%s", std::strerror(static_cast<int>(code)));
}
