// Identity and time: the process id and the two clocks.
#include <time.h>
#include <unistd.h>

#include "platform/platform.h"

namespace {

// Seconds from 1601-01-01 (the launcher's epoch) to 1970-01-01.
constexpr uint64_t seconds_1601_to_1970 = 11644473600ull;

}  // namespace

uint32_t os_process_id() { return static_cast<uint32_t>(getpid()); }

uint64_t os_system_time() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return (static_cast<uint64_t>(now.tv_sec) + seconds_1601_to_1970) * 10000000ull +
           static_cast<uint64_t>(now.tv_nsec) / 100;
}

uint64_t os_performance_counter() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000000000ull + static_cast<uint64_t>(now.tv_nsec);
}
