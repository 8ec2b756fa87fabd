// Operator new and delete for the targets over the packer's image code,
// which makes large buffers anew for every input: the readers' read and
// decode buffers (128 KiB to 1 MiB) for every walk of a block, the Linux
// writer an image padded to a 2 MiB boundary. Past the allocator's primary size classes each free is
// an unmap and each new buffer a map and a page fault per page: most of an
// input's time. Here a freed buffer of that size is kept, poisoned, for the
// next request of exactly its size, so that a use after its delete is still
// reported (a use after poison), a second delete reaches the allocator
// twice and is reported as a double free, and its redzones stay as the
// allocator made them.
#include <sanitizer/allocator_interface.h>
#include <sanitizer/asan_interface.h>

#include <cstddef>
#include <cstdlib>
#include <new>

namespace {

constexpr size_t kept_min_size = 64 * 1024;
constexpr size_t kept_max_size = 8 * 1024 * 1024;
constexpr size_t kept_slots = 8;

struct Kept {
    void* block;
    size_t size;
};
Kept kept[kept_slots];
size_t kept_count = 0;

void* allocate(size_t size) {
    if (size >= kept_min_size && size <= kept_max_size) {
        for (size_t i = 0; i < kept_count; ++i) {
            if (kept[i].size != size) continue;
            void* block = kept[i].block;
            kept[i] = kept[--kept_count];
            ASAN_UNPOISON_MEMORY_REGION(block, size);
            return block;
        }
    }
    void* block = std::malloc(size == 0 ? 1 : size);
    if (block == nullptr) throw std::bad_alloc();
    return block;
}

void release(void* block) {
    if (block == nullptr) return;
    for (size_t i = 0; i < kept_count; ++i) {
        if (kept[i].block != block) continue;
        kept[i] = kept[--kept_count];
        ASAN_UNPOISON_MEMORY_REGION(block, 1);
        std::free(block);
        std::free(block);   // reported: deleted twice
        return;
    }
    const size_t size = __sanitizer_get_allocated_size(block);
    if (size >= kept_min_size && size <= kept_max_size && kept_count < kept_slots) {
        ASAN_POISON_MEMORY_REGION(block, size);
        kept[kept_count++] = {block, size};
        return;
    }
    std::free(block);
}

}  // namespace

void* operator new(size_t size) { return allocate(size); }
void* operator new[](size_t size) { return allocate(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept {
    try {
        return allocate(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
void* operator new[](size_t size, const std::nothrow_t& tag) noexcept { return operator new(size, tag); }
void operator delete(void* block) noexcept { release(block); }
void operator delete[](void* block) noexcept { release(block); }
void operator delete(void* block, size_t) noexcept { release(block); }
void operator delete[](void* block, size_t) noexcept { release(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { release(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { release(block); }
