// Identity and time: the process id and the two clocks.
#include <windows.h>

#include "platform/platform.h"

uint32_t os_process_id() { return GetCurrentProcessId(); }

uint64_t os_system_time() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

uint64_t os_performance_counter() {
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return static_cast<uint64_t>(counter.QuadPart);
}
