#include "process_memory.h"

#include <sanitizer/allocator_interface.h>
#include <sanitizer/asan_interface.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <unordered_set>

#include "launcher/state.h"

extern "C" {
void* __real_malloc(size_t size);
void* __real_calloc(size_t count, size_t size);
void* __real_realloc(void* block, size_t size);
void __real_free(void* block);
}

namespace {

// Built on first use and never destroyed: allocations may come before and
// after the static objects of this file exist. Its own storage comes from
// operator new, which is not wrapped.
std::unordered_set<void*>& held() {
    static auto* blocks = new std::unordered_set<void*>;
    return *blocks;
}

void* remember(void* block) {
    if (block != nullptr) held().insert(block);
    return block;
}

// Large blocks freed by the launcher's code are kept for the next request of
// the same size instead of going back to the allocator. Every input creates
// a decoder and its window, and every free of one past the allocator's
// primary size classes is an unmap, and its next allocation a map and a page
// fault for each page touched: together they cost more than the input's own
// work. A kept block stays poisoned, so that any use of it after its free
// is still reported (as a use after poison), and a second free of it is
// passed on to the allocator twice, which reports the double free. The
// blocks keep the redzones the allocator gave them, and a kept block is
// handed out only for exactly its size, so overflows are caught as before.
constexpr size_t kept_min_size = 64 * 1024;
constexpr size_t kept_max_size = 1024 * 1024;
constexpr size_t kept_slots = 32;
constexpr size_t kept_max_total = 32 * 1024 * 1024;
// What the allocator writes into a fresh block (its malloc_fill_byte, up to
// max_malloc_fill_size), so that a reused block reads as a new one does.
constexpr unsigned char fill_byte = 0xbe;
constexpr size_t fill_size = 4096;

struct Kept {
    void* block;
    size_t size;
};
Kept kept[kept_slots];
size_t kept_count = 0;
size_t kept_total = 0;

Kept* find_kept(void* block) {
    for (size_t i = 0; i < kept_count; ++i)
        if (kept[i].block == block) return &kept[i];
    return nullptr;
}

void forget_kept(Kept* slot) {
    kept_total -= slot->size;
    *slot = kept[--kept_count];
}

void* take_kept(size_t size) {
    if (size < kept_min_size || size > kept_max_size) return nullptr;
    for (size_t i = 0; i < kept_count; ++i) {
        if (kept[i].size != size) continue;
        void* block = kept[i].block;
        forget_kept(&kept[i]);
        ASAN_UNPOISON_MEMORY_REGION(block, size);
        return block;
    }
    return nullptr;
}

// Frees a block the launcher's code held: keeps it when it can.
void release(void* block) {
    size_t size = __sanitizer_get_allocated_size(block);
    if (size < kept_min_size || size > kept_max_size || kept_count == kept_slots ||
        kept_total + size > kept_max_total) {
        __real_free(block);
        return;
    }
    ASAN_POISON_MEMORY_REGION(block, size);
    kept[kept_count++] = {block, size};
    kept_total += size;
}

// A block that is kept here was freed before: the allocator gets it back
// and then the caller's request, which it reports as the fault it is.
bool pass_freed_block(void* block) {
    Kept* slot = block == nullptr ? nullptr : find_kept(block);
    if (slot == nullptr) return false;
    forget_kept(slot);
    ASAN_UNPOISON_MEMORY_REGION(block, __sanitizer_get_allocated_size(block));
    __real_free(block);
    return true;
}

// How far the reads since the last fresh_launcher_state reached into each
// checksum buffer.
size_t checksum_buffer_filled[threads_max];

void note_read(const void* buffer, uint32_t got) {
    for (uint32_t i = 0; i < threads_max; ++i) {
        const unsigned char* start = launcher.checksum_buffers[i];
        const auto* at = static_cast<const unsigned char*>(buffer);
        if (at < start || at >= start + checksum_buffer_size) continue;
        size_t end = static_cast<size_t>(at - start) + got;
        checksum_buffer_filled[i] = std::max(checksum_buffer_filled[i], std::min(end, checksum_buffer_size));
    }
}

}  // namespace

extern "C" {
void* __wrap_malloc(size_t size) {
    if (void* block = take_kept(size)) {
        std::memset(block, fill_byte, std::min(size, fill_size));
        return remember(block);
    }
    return remember(__real_malloc(size));
}

void* __wrap_calloc(size_t count, size_t size) {
    if (size == 0 || count <= SIZE_MAX / size) {
        if (void* block = take_kept(count * size)) {
            std::memset(block, 0, count * size);
            return remember(block);
        }
    }
    return remember(__real_calloc(count, size));
}

void* __wrap_realloc(void* block, size_t size) {
    pass_freed_block(block);
    void* moved = __real_realloc(block, size);
    if (moved != nullptr || size == 0) held().erase(block);
    return remember(moved);
}

void __wrap_free(void* block) {
    if (pass_freed_block(block)) {
        __real_free(block);
        return;
    }
    if (held().erase(block) > 0)
        release(block);
    else
        __real_free(block);
}
}

void release_process_memory() {
    for (void* block : held()) release(block);
    held().clear();
}

// The fake's reads, watched for where they fill the checksum buffers.
bool __real__Z12os_read_filePvS_jPj(ReadHandle file, void* buffer, uint32_t capacity, uint32_t* got)
    __asm__("__real__Z12os_read_filePvS_jPj");
extern "C" bool __wrap__Z12os_read_filePvS_jPj(ReadHandle file, void* buffer, uint32_t capacity, uint32_t* got) {
    bool ok = __real__Z12os_read_filePvS_jPj(file, buffer, capacity, got);
    if (ok) note_read(buffer, *got);
    return ok;
}

void fresh_launcher_state() {
    // A fresh object to copy from, made once.
    static const LauncherState* const fresh = new LauncherState();
    auto* to = reinterpret_cast<unsigned char*>(&launcher);
    const auto* from = reinterpret_cast<const unsigned char*>(fresh);
    const size_t buffers = static_cast<size_t>(reinterpret_cast<unsigned char*>(launcher.checksum_buffers) - to);
    const size_t after = buffers + sizeof launcher.checksum_buffers;
    std::memcpy(to, from, buffers);
    std::memcpy(to + after, from + after, sizeof launcher - after);
    for (uint32_t i = 0; i < threads_max; ++i) {
        std::memcpy(launcher.checksum_buffers[i], fresh->checksum_buffers[i], checksum_buffer_filled[i]);
        checksum_buffer_filled[i] = 0;
    }
}

