#include "process_memory.h"

#include <cstddef>
#include <unordered_set>

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

}  // namespace

extern "C" {
void* __wrap_malloc(size_t size) { return remember(__real_malloc(size)); }

void* __wrap_calloc(size_t count, size_t size) { return remember(__real_calloc(count, size)); }

void* __wrap_realloc(void* block, size_t size) {
    void* moved = __real_realloc(block, size);
    if (moved != nullptr || size == 0) held().erase(block);
    return remember(moved);
}

void __wrap_free(void* block) {
    held().erase(block);
    __real_free(block);
}
}

void release_process_memory() {
    for (void* block : held()) __real_free(block);
    held().clear();
}
