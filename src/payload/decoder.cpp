#define ZSTD_STATIC_LINKING_ONLY   // ZSTD_createDCtx_advanced, ZSTD_customMem
#include "payload/decoder.h"

#include "platform/platform.h"

namespace {

void* allocate(void*, size_t size) { return os_allocate_window(size); }
void release(void*, void* memory) { os_free_window(memory); }

}  // namespace

ZSTD_DCtx* create_decoder() { return ZSTD_createDCtx_advanced(ZSTD_customMem{allocate, release, nullptr}); }
