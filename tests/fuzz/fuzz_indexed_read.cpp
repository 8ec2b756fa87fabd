// Any indexed block through the launcher's indexed read path, over the fake
// platform: the index is read and checked, files are checked, and only the
// frames holding files to write are decoded. The run must end in success or
// in one of the launcher's documented endings, with nothing left open and
// no file written outside the target; the sanitizers watch for reads outside
// the block. A start whose every file was in place must not have created a
// decoder.
//
// Input: a flags byte, a byte choosing a failing write, then the body.
//   flags bit 0  the body is an entry stream: it is cut into frames here
//                (its first byte: entries per frame), compressed and given an
//                index, which the edits below then damage (else the body is
//                the block itself)
//         bit 1  the index checksum is made right after the edits, or for a
//                block as given, so that damage past the checksum is reached
//         bit 2  the unpack lock cannot be had
//         bit 3  start twice, the second time over what the first left with
//                every other file it wrote removed
//         bit 4  four processors (else one)
//         bit 5  no thread can be started
//   byte 1: 0xFF none; else bit 7 chooses a short write over a failed one
//           and bits 0-6 the index of that write.
// With bit 0, the body is: entries per frame, an edit count n, n edits of
// three bytes (u16 LE offset into the index content, a byte to XOR there),
// then the entry stream.
#define ZSTD_STATIC_LINKING_ONLY   // ZSTD_customMem, for the wrapped ZSTD_createDCtx_advanced
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fake_os.h"
#include "fatal_ends.h"
#include "indexed_fixture.h"
#include "launcher/fatal.h"
#include "launcher/state.h"
#include "launcher/text.h"
#include "payload/block_index.h"
#include "payload/index_reader.h"
#include "payload/indexed_unpack.h"
#include "payload/target_lock.h"
#include "payload/unpack.h"
#include "process_memory.h"
#include "read_path_checks.h"

namespace {

int contexts_created = 0;

}  // namespace

extern "C" ZSTD_DCtx* __real_ZSTD_createDCtx_advanced(ZSTD_customMem memory);
extern "C" ZSTD_DCtx* __wrap_ZSTD_createDCtx_advanced(ZSTD_customMem memory) {
    ++contexts_created;
    return __real_ZSTD_createDCtx_advanced(memory);
}

// The fixture compresses each frame with ZSTD_compress, which makes and
// frees a context for every call: here the kept one does the work.
extern "C" size_t __wrap_ZSTD_compress(void* out, size_t capacity, const void* in, size_t size, int level) {
    return ZSTD_compressCCtx(kept_compression_context(), out, capacity, in, size, level);
}

namespace {

const std::u16string target = u"C:\\Users\\user\\AppData\\Local\\Quenlith\\1.0.20";

uint64_t le(const uint8_t* bytes, size_t count) {
    uint64_t value = 0;
    for (size_t i = count; i > 0; --i) value = (value << 8) | bytes[i - 1];
    return value;
}

// Entries read leniently from `data`: a name up to its terminator (at most
// 1100 units), a size cut to what is left, a checksum ignored (the index
// gets the real one); an empty name or the end of the data ends the list.
fixture::Files entries_of(const uint8_t* data, size_t size) {
    fixture::Files files;
    size_t at = 0;
    while (at + 2 <= size) {
        std::u16string name;
        while (at + 2 <= size && name.size() < 1100) {
            char16_t unit = static_cast<char16_t>(le(data + at, 2));
            at += 2;
            if (unit == 0) break;
            name.push_back(unit);
        }
        if (name.empty() || at + 12 > size) break;
        uint64_t length = le(data + at, 8) % (size - at - 12 + 1);
        at += 12;
        files.emplace_back(name, std::string(reinterpret_cast<const char*>(data + at), length));
        at += length;
    }
    return files;
}

void reseal(std::string& block) {
    const size_t start = block_magic_size + index_frame_header_size;
    if (block.size() < start) return;
    // The index's length follows the skippable frame's magic.
    uint64_t length = le(reinterpret_cast<const uint8_t*>(block.data()) + block_magic_size + 4, 4);
    if (length < index_checksum_size || length > block.size() - start) return;
    size_t checked = length - index_checksum_size;
    uLong crc = crc32(0, reinterpret_cast<const Bytef*>(block.data() + start), static_cast<uInt>(checked));
    for (int i = 0; i < 4; ++i) block[start + checked + i] = static_cast<char>((crc >> (8 * i)) & 0xFF);
}

// The block an input describes (see the top of this file).
std::string block_of(uint8_t flags, const uint8_t* body, size_t size) {
    if (!(flags & 1)) {
        std::string block(reinterpret_cast<const char*>(body), size);
        if (flags & 2) reseal(block);
        return block;
    }
    if (size < 2) return {};
    size_t per_frame = body[0] % 8 + 1;
    size_t edits = body[1] % 16;
    body += 2;
    size -= 2;
    if (size < 3 * edits) return {};
    const uint8_t* edit = body;
    body += 3 * edits;
    size -= 3 * edits;

    fixture::Files files = entries_of(body, size);
    if (files.empty()) return {};
    std::vector<size_t> frames;
    for (size_t left = files.size(); left > 0; left -= std::min(left, per_frame)) frames.push_back(std::min(left, per_frame));
    fixture::IndexedBlock indexed = fixture::indexed_block(files, frames);
    for (size_t i = 0; i < edits; ++i, edit += 3)
        indexed.bytes[indexed.index_content + le(edit, 2) % indexed.index_length] ^= static_cast<char>(edit[2]);
    if (flags & 2) indexed.reseal();
    return indexed.bytes;
}

// Whether the index alone is refused, read again after a start that failed
// (its state is of no further use): a refused index writes nothing.
bool index_refused(const unsigned char* block, size_t size) {
    const std::vector<std::u16string> written = fake_os().opened_for_write;
    launcher.attached_index = {};
    begin_start(block, size);
    bool refused = false;
    try {
        read_attached_index();
    } catch (const FatalEnd&) {
        refused = true;
    }
    fake_os().opened_for_write = written;
    return refused;
}

// One start over the fake's current state.
void start(const unsigned char* block, size_t size) {
    const size_t dirs_before = fake_os().created_dirs.size();
    begin_start(block, size);
    contexts_created = 0;
    text_copy(launcher.target_dir, target.c_str(), path_capacity);
    const std::u16string below = target + u"\\";
    if (!attached_has_index()) return;
    try {
        unpack_indexed_entries();
    } catch (const FatalEnd& end) {
        // Paths are joined from names of at most 1023 units below a short
        // target: they always fit.
        check_fatal_end(end, block, size, below, nullptr, false, false);
        const bool wrote = !fake_os().opened_for_write.empty() || fake_os().created_dirs.size() != dirs_before;
        if (end.kind == FatalKind::message && end.message == msg_decode && index_refused(block, size))
            check(!wrote, "a file or directory written although the index was refused");
        return;
    } catch (const WorkBudgetSpent&) {
        return;
    }
    check_good_end(below);
    check(!fake_os().opened_for_write.empty() || contexts_created == 0, "a decoder created with every file in place");
}

// What another program did to the cache between two starts.
void remove_every_other_file(const std::vector<std::u16string>& written) {
    for (size_t i = 0; i < written.size(); i += 2) fake_os().files.erase(written[i]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const uint8_t flags = data[0];
    const uint8_t write_choice = data[1];
    watch_decoder(size);
    const std::string built = block_of(flags, data + 2, size - 2);
    const GuardedBlock block(built.data(), built.size());

    fake_reset();
    FakeOs& os = fake_os();
    os.lock_fails = flags & 4;
    os.processors = flags & 16 ? 4 : 1;
    os.thread_start_fails = flags & 32;
    if (write_choice != 0xFF) (write_choice & 0x80 ? os.short_write_at : os.fail_write_at) = write_choice & 0x7F;

    start(block.data(), built.size());
    if (flags & 8) {
        const std::vector<std::u16string> written = os.opened_for_write;
        end_process();
        os.writes = 0;
        remove_every_other_file(written);
        start(block.data(), built.size());
    }
    // The next input's fake_reset clears what this one left: a reset here
    // as well cost a twentieth of the time.
    end_process();
    return 0;
}
