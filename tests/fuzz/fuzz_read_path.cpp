// Any attached data through the whole read path, over the fake platform:
// open_attached, unpack_entries, close_attached, as the main sequence calls
// them. The run must end in success or in one of the launcher's documented
// endings, with every file and view closed and the lock released; the
// sanitizers watch for reads past the block and writes past any buffer, and
// the decoder is held to a bound on its calls.
//
// Input: a flags byte, a byte choosing a failing write, then the body.
//   flags bit 0  the body is an entry stream, compressed here into a block
//                (else the body is the block itself, magic included)
//         bit 1  the unpack lock cannot be had
//         bit 2  the target directory is long, so names reach the path limit
//         bit 3  start twice, the second time over what the first left
//         bit 4  the user's profile folder cannot be named
//   byte 1: 0xFF none; else bit 7 chooses a short write over a failed one
//           and bits 0-6 the index of that write.
#include <zstd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "fake_os.h"
#include "fatal_ends.h"
#include "launcher/fatal.h"
#include "launcher/state.h"
#include "launcher/text.h"
#include "payload/attached.h"
#include "payload/block_format.h"
#include "payload/target_lock.h"
#include "payload/unpack.h"
#include "process_memory.h"

namespace {

// Decoded bytes one input may produce: a few bytes of zstd can describe
// gigabytes, and past this much nothing new is learnt.
constexpr uint64_t output_budget = 32ull << 20;

size_t decoder_calls = 0;
uint64_t decoded_bytes = 0;
size_t input_size = 0;

struct WorkBudgetSpent {};

[[noreturn]] void broken(const char* what) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

void check(bool ok, const char* what) {
    if (!ok) broken(what);
}

}  // namespace

// Every decoder call must consume input or produce output; a call that does
// neither, if repeated, is a loop without progress. The count of calls is
// bounded by the frames the input can hold plus the windows the output fills.
extern "C" size_t __real_ZSTD_decompressStream(ZSTD_DCtx*, ZSTD_outBuffer*, ZSTD_inBuffer*);
extern "C" size_t __wrap_ZSTD_decompressStream(ZSTD_DCtx* context, ZSTD_outBuffer* output, ZSTD_inBuffer* input) {
    ++decoder_calls;
    check(decoder_calls <= input_size + 4 + decoded_bytes / decode_window_size, "decoder called without progress");
    size_t before = output->pos;
    size_t result = __real_ZSTD_decompressStream(context, output, input);
    decoded_bytes += output->pos - before;
    if (decoded_bytes > output_budget) throw WorkBudgetSpent{};
    return result;
}

namespace {

const std::u16string normal_target = u"C:\\Users\\user\\AppData\\Local\\Quenlith\\1.0.20";

// Near the path limit in one level: every directory below it costs a scan
// of the known directories, which a deep chain of long names makes slow
// without making it more interesting.
std::u16string long_target() { return u"C:\\Users\\user\\" + std::u16string(3980, u'l'); }

std::string compress(const uint8_t* data, size_t size) {
    std::string out(ZSTD_compressBound(size), '\0');
    size_t n = ZSTD_compress(out.data(), out.size(), data, size, 1);
    if (ZSTD_isError(n)) broken("compression failed");
    out.resize(n);
    return std::string(reinterpret_cast<const char*>(block_magic), block_magic_size) + out;
}

// What the end of a process releases: the launcher's state, what it still
// holds on the heap, and the fake's open files, views and lock. Files and
// directories stay for the next start.
void end_process() {
    reset_launcher_state();
    release_process_memory();
    fake_process_end();
}

bool starts_with(const std::u16string& text, const std::u16string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

// One start of the launcher over the fake's current state.
void start(const unsigned char* block, size_t size, const std::u16string& target, bool home_missing) {
    FakeOs& os = fake_os();
    os.opened_for_write.clear();
    const std::u16string below = target + u"\\";
    decoder_calls = 0;
    text_copy(launcher.target_dir, target.c_str(), path_capacity);
    launcher.attached_cursor = block;
    launcher.attached_remaining = size;
    try {
        open_attached();
        unpack_entries();
        close_attached();
    } catch (const FatalEnd& end) {
        switch (end.kind) {
        case FatalKind::message:
            check(end.message == msg_decode || (end.message == msg_no_header && (size < block_magic_size || std::memcmp(block, block_magic, block_magic_size) != 0)),
                  "an unexpected standard-output ending");
            break;
        case FatalKind::with_code:
            check(end.message == msg_unpack && (end.code == os.write_error || end.code == error_write_fault),
                  "an unexpected ending with a system error");
            break;
        case FatalKind::open_for_writing:
            check(end.text == launcher.entry_path && starts_with(end.text, below), "an open failure for another path");
            break;
        case FatalKind::expand_spec:
            check(home_missing && end.text == u"{HOME}", "an expansion failure with the profile folder there");
            break;
        case FatalKind::stop:
            // The only silent stop on this path: the joined path would not fit.
            check(text_length(launcher.target_dir) + 1 + text_length(launcher.entry_name) + 1 > path_capacity,
                  "a silent stop with a path that fits");
            break;
        }
        return;
    } catch (const WorkBudgetSpent&) {
        return;
    }
    check(os.open_handles == 0 && os.open_views == 0, "a file or view left open");
    check(os.locks_held == 0, "the unpack lock left held");
    check(launcher.main_exe_path[0] == 0 || starts_with(launcher.main_exe_path, below),
          "the main executable outside the target");
    for (const auto& path : os.opened_for_write) check(starts_with(path, below), "a file written outside the target");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const uint8_t flags = data[0];
    const uint8_t write_choice = data[1];
    data += 2;
    size -= 2;
    input_size = size;
    decoded_bytes = 0;

    std::string compressed;
    if (flags & 1) compressed = compress(data, size);
    const size_t block_size = flags & 1 ? compressed.size() : size;
    // An exact copy: any read past the block's end is a read past this.
    std::unique_ptr<unsigned char[]> block(new unsigned char[block_size > 0 ? block_size : 1]);
    std::memcpy(block.get(), flags & 1 ? reinterpret_cast<const unsigned char*>(compressed.data()) : data, block_size);

    fake_reset();
    FakeOs& os = fake_os();
    const std::u16string target = flags & 4 ? long_target() : normal_target;
    os.lock_fails = flags & 2;
    if (flags & 16) os.profile.reset();
    if (write_choice != 0xFF) (write_choice & 0x80 ? os.short_write_at : os.fail_write_at) = write_choice & 0x7F;

    start(block.get(), block_size, target, flags & 16);
    if (flags & 8) {
        end_process();
        os.writes = 0;
        start(block.get(), block_size, target, flags & 16);
    }
    end_process();
    fake_reset();
    return 0;
}
