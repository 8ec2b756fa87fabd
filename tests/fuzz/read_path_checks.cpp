#define ZSTD_STATIC_LINKING_ONLY   // ZSTD_createCCtx_advanced
#include "read_path_checks.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <sanitizer/asan_interface.h>

#include "fake_os.h"
#include "launcher/fatal.h"
#include "launcher/state.h"
#include "payload/attached.h"
#include "payload/block_format.h"
#include "process_memory.h"

namespace {

// Eight windows are more than any input within the run's length limit
// decodes to without a bomb, and enough for every way entries can lie
// across window boundaries; a larger budget only makes bombs slow.
constexpr uint64_t output_budget = 8 * decode_window_size;

size_t decoder_calls = 0;
const unsigned char* block_start = nullptr;
size_t block_size = 0;
uint64_t decoded_bytes = 0;
size_t watched_input_size = 0;

}  // namespace

void watch_decoder(size_t input_size) {
    watched_input_size = input_size;
    decoded_bytes = 0;
    decoder_calls = 0;
}

void watch_decoder_calls() { decoder_calls = 0; }

// The count of calls is bounded by the frames the input can hold plus the
// windows the output fills.
extern "C" size_t __real_ZSTD_decompressStream(ZSTD_DCtx*, ZSTD_outBuffer*, ZSTD_inBuffer*);
extern "C" size_t __wrap_ZSTD_decompressStream(ZSTD_DCtx* context, ZSTD_outBuffer* output, ZSTD_inBuffer* input) {
    ++decoder_calls;
    const auto* from = static_cast<const unsigned char*>(input->src);
    check(input->pos <= input->size && from >= block_start && input->size <= block_size &&
              static_cast<size_t>(from - block_start) <= block_size - input->size,
          "the decoder given input outside the block");
    check(decoder_calls <= watched_input_size + 4 + decoded_bytes / decode_window_size,
          "decoder called without progress");
    size_t before = output->pos;
    size_t result = __real_ZSTD_decompressStream(context, output, input);
    decoded_bytes += output->pos - before;
    if (decoded_bytes > output_budget) throw WorkBudgetSpent{};
    return result;
}

namespace {

void* context_alloc(void*, size_t size) { return ::operator new(size); }
void context_free(void*, void* block) { ::operator delete(block); }

}  // namespace

ZSTD_CCtx* kept_compression_context() {
    static ZSTD_CCtx* const context = ZSTD_createCCtx_advanced({context_alloc, context_free, nullptr});
    return context;
}

void broken(const char* what) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

void check(bool ok, const char* what) {
    if (!ok) broken(what);
}

bool starts_with(const std::u16string& text, const std::u16string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

void end_process() {
    fresh_launcher_state();
    release_process_memory();
    fake_process_end();
}

namespace {

constexpr size_t guard_margin = 1 << 20;
unsigned char* guarded_memory = nullptr;
size_t guarded_capacity = 0;   // between the margins

}  // namespace

GuardedBlock::GuardedBlock(const void* data, size_t size) : size_(size) {
    if (size > guarded_capacity) {
        if (guarded_memory != nullptr) {
            ASAN_UNPOISON_MEMORY_REGION(guarded_memory, guarded_capacity + 2 * guard_margin);
            ::operator delete(guarded_memory);
        }
        guarded_capacity = std::max(size, size_t{1} << 20);
        guarded_memory = static_cast<unsigned char*>(::operator new(guarded_capacity + 2 * guard_margin));
        ASAN_POISON_MEMORY_REGION(guarded_memory, guarded_capacity + 2 * guard_margin);
    }
    ASAN_UNPOISON_MEMORY_REGION(guarded_memory + guard_margin, size);
    std::memcpy(guarded_memory + guard_margin, data, size);
}

GuardedBlock::~GuardedBlock() { ASAN_POISON_MEMORY_REGION(guarded_memory + guard_margin, size_); }

const unsigned char* GuardedBlock::data() const { return guarded_memory + guard_margin; }

void begin_start(const unsigned char* block, size_t size) {
    block_start = block;
    block_size = size;
    fake_os().opened_for_write.clear();
    watch_decoder_calls();
    launcher.attached_cursor = block;
    launcher.attached_remaining = size;
}

void check_fatal_end(const FatalEnd& end, const unsigned char* block, size_t size, const std::u16string& below,
                     const char16_t* failing_path, bool stop_allowed, bool home_missing) {
    const FakeOs& os = fake_os();
    for (const auto& path : os.opened_for_write) check(starts_with(path, below), "a file written outside the target");
    switch (end.kind) {
    case FatalKind::message:
        check(end.message == msg_decode ||
                  (end.message == msg_no_header &&
                   (size < block_magic_size || std::memcmp(block, block_magic, block_magic_size) != 0)),
              "an unexpected standard-output ending");
        break;
    case FatalKind::with_code:
        check(end.message == msg_unpack && (end.code == os.write_error || end.code == error_write_fault),
              "an unexpected ending with a system error");
        break;
    case FatalKind::open_for_writing:
        check(starts_with(end.text, below) && (failing_path == nullptr || end.text == failing_path),
              "an open failure for another path");
        break;
    case FatalKind::expand_spec:
        check(home_missing && end.text == u"{HOME}", "an expansion failure with the profile folder there");
        break;
    case FatalKind::stop:
        check(stop_allowed, "a silent stop with a path that fits");
        break;
    }
}

void check_good_end(const std::u16string& below) {
    const FakeOs& os = fake_os();
    check(os.open_handles == 0 && os.open_reads == 0, "a file left open");
    check(os.locks_held == 0, "the unpack lock left held");
    check(launcher.main_exe_path[0] == 0 || starts_with(launcher.main_exe_path, below),
          "the main executable outside the target");
    for (const auto& path : os.opened_for_write) check(starts_with(path, below), "a file written outside the target");
}
