// Running one piece of work on a few threads. The tasks share their work
// through a counter of their own, so a thread that cannot be started only
// leaves its share to the others.
#pragma once

#include <cstddef>
#include <cstdint>

#include "launcher/state.h"   // threads_max

// Threads worth starting for `items` pieces of work: one per processor, at
// most threads_max, never more than the pieces, at least one.
uint32_t threads_for(uint32_t items);

// Runs body on each of the `count` tasks, `task_size` bytes apart from
// `tasks`: the first on the calling thread, the others on threads of their
// own. Returns when all have ended.
void run_tasks(void (*body)(void*), void* tasks, size_t task_size, uint32_t count);
