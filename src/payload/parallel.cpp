#include "payload/parallel.h"

#include "platform/platform.h"

uint32_t threads_for(uint32_t items) {
    uint32_t count = os_processor_count();
    if (count > threads_max) count = threads_max;
    if (count > items) count = items;
    return count > 0 ? count : 1;
}

void run_tasks(void (*body)(void*), void* tasks, size_t task_size, uint32_t count) {
    ThreadHandle threads[threads_max] = {};
    auto* task = static_cast<unsigned char*>(tasks);
    if (count > threads_max) count = threads_max;
    for (uint32_t i = 1; i < count; ++i) threads[i] = os_start_thread(body, task + i * task_size);
    body(task);
    for (uint32_t i = 1; i < count; ++i)
        if (threads[i] != nullptr) os_join_thread(threads[i]);
}
