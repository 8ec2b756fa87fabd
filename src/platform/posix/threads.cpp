// Threads on POSIX. A new thread inherits the creator's signal mask, so the
// event signals that the launcher blocks for its handler's thread stay
// blocked in every worker too.
#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/platform.h"
#include "platform/posix/system_calls.h"

namespace {

struct ThreadStart {
    void (*body)(void*);
    void* argument;
};

void* thread_entry(void* parameter) {
    ThreadStart start = *static_cast<ThreadStart*>(parameter);
    std::free(parameter);
    start.body(start.argument);
    return nullptr;
}

}  // namespace

uint32_t os_processor_count() {
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0)
        return static_cast<uint32_t>(CPU_COUNT(&set));
    long online = sysconf(_SC_NPROCESSORS_ONLN);
    return online > 0 ? static_cast<uint32_t>(online) : 1;
}

ThreadHandle os_start_thread(void (*body)(void*), void* argument) {
    auto* start = static_cast<ThreadStart*>(std::malloc(sizeof(ThreadStart)));
    if (start == nullptr) return nullptr;
    *start = {body, argument};
    auto* thread = static_cast<pthread_t*>(std::malloc(sizeof(pthread_t)));
    if (thread == nullptr || system_calls.pthread_create(thread, nullptr, thread_entry, start) != 0) {
        std::free(thread);
        std::free(start);
        return nullptr;
    }
    return thread;
}

void os_join_thread(ThreadHandle thread) {
    pthread_join(*static_cast<pthread_t*>(thread), nullptr);
    std::free(thread);
}
