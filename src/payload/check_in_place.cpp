#include <atomic>

#include "launcher/state.h"
#include "payload/in_place.h"
#include "payload/index_reader.h"
#include "payload/indexed_unpack.h"
#include "payload/parallel.h"

namespace {

struct CheckTask {
    std::atomic<uint32_t>* next;   // the next entry to check, shared
    bool again;
    unsigned char* buffer;         // this thread's own
};

void check_body(void* argument) {
    auto* task = static_cast<CheckTask*>(argument);
    PathBuffer path;
    for (uint32_t e; (e = task->next->fetch_add(1)) < launcher.attached_index.entry_count;) {
        IndexedEntry& entry = launcher.attached_index.entries[e];
        if (task->again && !entry.needs_writing) continue;
        indexed_entry_path(entry, path);
        entry.needs_writing = !file_in_place(path, entry.stored, entry.size, task->buffer);
    }
}

}  // namespace

void check_entries_in_place(bool again) {
    uint32_t count = launcher.attached_index.entry_count;
    if (again) {
        count = 0;
        for (uint32_t e = 0; e < launcher.attached_index.entry_count; ++e)
            count += launcher.attached_index.entries[e].needs_writing;
    }
    std::atomic<uint32_t> next{0};
    CheckTask tasks[threads_max];
    uint32_t threads = threads_for(count);
    for (uint32_t i = 0; i < threads; ++i) tasks[i] = {&next, again, launcher.checksum_buffers[i]};
    run_tasks(check_body, tasks, sizeof tasks[0], threads);
}
