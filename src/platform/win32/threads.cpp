// Threads on Windows. The body and its argument travel to the new thread in
// a small block that the thread frees; a modest stack is reserved, since the
// image's own reserve (16 MiB, for the main thread) would otherwise apply.
#include <windows.h>

#include <cstdlib>

#include "platform/platform.h"
#include "platform/win32/system_calls.h"

namespace {

struct ThreadStart {
    void (*body)(void*);
    void* argument;
};

DWORD WINAPI thread_entry(LPVOID parameter) {
    ThreadStart start = *static_cast<ThreadStart*>(parameter);
    std::free(parameter);
    start.body(start.argument);
    return 0;
}

constexpr SIZE_T thread_stack_reserve = 1 << 20;

}  // namespace

uint32_t os_processor_count() {
    DWORD_PTR process_mask = 0, system_mask = 0;
    uint32_t count = 0;
    if (GetProcessAffinityMask(GetCurrentProcess(), &process_mask, &system_mask)) {
        for (; process_mask != 0; process_mask &= process_mask - 1) ++count;
    }
    if (count == 0) {
        SYSTEM_INFO info;
        GetSystemInfo(&info);
        count = info.dwNumberOfProcessors;
    }
    return count > 0 ? count : 1;
}

ThreadHandle os_start_thread(void (*body)(void*), void* argument) {
    auto* start = static_cast<ThreadStart*>(std::malloc(sizeof(ThreadStart)));
    if (start == nullptr) return nullptr;
    *start = {body, argument};
    HANDLE thread = system_calls.create_thread(nullptr, thread_stack_reserve, thread_entry, start,
                                               STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (thread == nullptr) std::free(start);
    return thread;
}

void os_join_thread(ThreadHandle thread) {
    WaitForSingleObject(static_cast<HANDLE>(thread), INFINITE);
    CloseHandle(static_cast<HANDLE>(thread));
}
