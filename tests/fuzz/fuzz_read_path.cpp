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
#include "read_path_checks.h"

namespace {

const std::u16string normal_target = u"C:\\Users\\user\\AppData\\Local\\Quenlith\\1.0.20";

// Near the path limit in one level: every directory below it costs a scan
// of the known directories, which a deep chain of long names makes slow
// without making it more interesting.
std::u16string long_target() { return u"C:\\Users\\user\\" + std::u16string(3980, u'l'); }

// The block around a compressed entry stream, in a buffer kept across
// inputs: a fresh output for every input costs more than the launcher's run
// over it.
const std::string& compress(const uint8_t* data, size_t size) {
    ZSTD_CCtx* const context = kept_compression_context();
    static std::string out;
    out.resize(block_magic_size + ZSTD_compressBound(size));
    std::memcpy(out.data(), block_magic, block_magic_size);
    size_t n = ZSTD_compressCCtx(context, out.data() + block_magic_size, out.size() - block_magic_size, data, size, 1);
    if (ZSTD_isError(n)) broken("compression failed");
    out.resize(block_magic_size + n);
    return out;
}

// One start of the launcher over the fake's current state.
void start(const unsigned char* block, size_t size, const std::u16string& target, bool home_missing) {
    begin_start(block, size);
    const std::u16string below = target + u"\\";
    text_copy(launcher.target_dir, target.c_str(), path_capacity);
    try {
        open_attached();
        unpack_entries();
        close_attached();
    } catch (const FatalEnd& end) {
        // The only silent stop on this path: the joined path would not fit.
        bool too_long = text_length(launcher.target_dir) + 1 + text_length(launcher.entry_name) + 1 > path_capacity;
        check_fatal_end(end, block, size, below, launcher.entry_path, too_long, home_missing);
        return;
    } catch (const WorkBudgetSpent&) {
        return;
    }
    check_good_end(below);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const uint8_t flags = data[0];
    const uint8_t write_choice = data[1];
    data += 2;
    size -= 2;
    watch_decoder(size);

    const std::string* compressed = flags & 1 ? &compress(data, size) : nullptr;
    const size_t block_size = compressed ? compressed->size() : size;
    const GuardedBlock block(compressed ? reinterpret_cast<const unsigned char*>(compressed->data()) : data, block_size);

    fake_reset();
    FakeOs& os = fake_os();
    const std::u16string target = flags & 4 ? long_target() : normal_target;
    os.lock_fails = flags & 2;
    if (flags & 16) os.profile.reset();
    if (write_choice != 0xFF) (write_choice & 0x80 ? os.short_write_at : os.fail_write_at) = write_choice & 0x7F;

    start(block.data(), block_size, target, flags & 16);
    if (flags & 8) {
        end_process();
        os.writes = 0;
        start(block.data(), block_size, target, flags & 16);
    }
    // The next input's fake_reset clears what this one left: a reset here
    // as well cost a twentieth of the time.
    end_process();
    return 0;
}
