// Giving pages back: the launcher's read-only, file-backed memory (the
// attached data in its image, file views) is dropped from the resident set
// as soon as it has been used, so the memory the launcher holds does not
// grow with the attached data. The pages come back from the file if touched.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>

#include "platform/platform.h"

void os_release_pages(const void* data, uint64_t size) {
    static const uintptr_t page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
    uintptr_t start = reinterpret_cast<uintptr_t>(data);
    uintptr_t first = (start + page - 1) & ~(page - 1);   // only whole pages inside the range
    uintptr_t end = (start + size) & ~(page - 1);
    if (first < end) madvise(reinterpret_cast<void*>(first), end - first, MADV_DONTNEED);
}

// Blocks from 8 MiB on start on a 2 MiB boundary and are offered to the
// kernel for transparent huge pages: a decoder writes its window through
// once, and on a virtual machine each 4 KiB page fault is dear (a damaged
// start that decodes 120 MB of a frame took 31,000 faults, about a fifth of
// its time). glibc's free takes either kind of block.
namespace {

constexpr size_t huge_page = size_t{2} << 20;
constexpr size_t large_block = size_t{8} << 20;

}  // namespace

void* os_allocate_window(size_t size) {
    if (size < large_block) return std::malloc(size);
    size_t rounded = (size + huge_page - 1) & ~(huge_page - 1);
    void* memory = std::aligned_alloc(huge_page, rounded);
    // Only the huge pages that lie wholly inside the block: a tail page
    // would hold up to 2 MiB resident for a few bytes of the block.
    if (memory != nullptr) madvise(memory, size & ~(huge_page - 1), MADV_HUGEPAGE);
    return memory;
}

void os_free_window(void* memory) { std::free(memory); }
