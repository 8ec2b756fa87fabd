// Giving pages back: the launcher's read-only, file-backed memory (the
// attached data in its image, file views) leaves the working set as soon as
// it has been used, so the memory the launcher holds does not grow with the
// attached data. VirtualUnlock on pages that are not locked takes them out of
// the working set (and reports ERROR_NOT_LOCKED, which is expected); they
// come back from the file if touched.
#include <windows.h>

#include <cstdint>
#include <cstdlib>

#include "platform/platform.h"

void os_release_pages(const void* data, uint64_t size) {
    static const uintptr_t page = [] {
        SYSTEM_INFO info;
        GetSystemInfo(&info);
        return static_cast<uintptr_t>(info.dwPageSize);
    }();
    uintptr_t start = reinterpret_cast<uintptr_t>(data);
    uintptr_t first = (start + page - 1) & ~(page - 1);   // only whole pages inside the range
    uintptr_t end = (start + size) & ~(page - 1);
    if (first < end) VirtualUnlock(reinterpret_cast<void*>(first), end - first);
}

// Large pages on Windows need a privilege that a user's program does not
// hold, so the window comes from the heap as any block does.
void* os_allocate_window(size_t size) { return std::malloc(size); }
void os_free_window(void* memory) { std::free(memory); }
