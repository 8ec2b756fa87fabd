// Giving pages back: the launcher's read-only, file-backed memory (the
// attached data in its image, file views) is dropped from the resident set
// as soon as it has been used, so the memory the launcher holds does not
// grow with the attached data. The pages come back from the file if touched.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

#include "platform/platform.h"

void os_release_pages(const void* data, uint64_t size) {
    static const uintptr_t page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
    uintptr_t start = reinterpret_cast<uintptr_t>(data);
    uintptr_t first = (start + page - 1) & ~(page - 1);   // only whole pages inside the range
    uintptr_t end = (start + size) & ~(page - 1);
    if (first < end) madvise(reinterpret_cast<void*>(first), end - first, MADV_DONTNEED);
}
