// expand_spec over any template, output capacity and environment. The output
// must stay NUL-terminated within its capacity whatever happens; the result
// is true, false or the silent stop; and a template without placeholders is
// copied as far as it fits.
//
// Input: capacity (2 bytes, little-endian, taken modulo a path buffer's
// capacity, plus 1), a flags byte, then UTF-16LE units split at 0xFFFF into:
// the template, the values of ZEMBRA_ONEFILE_START, _TIME_US, _RANDOM and
// _PARENT, the module path, the temporary directory, the profile and the
// local application data folder.
//   flags bit 0  the module path cannot be had
//         bit 1  no temporary directory
//         bit 2  no profile folder
//         bit 3  no local application data folder
//         bits 4-7  which of the four variables are set
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "fake_os.h"
#include "fatal_ends.h"
#include "launcher/state.h"
#include "paths/expand_spec.h"
#include "payload/block_format.h"
#include "process_memory.h"

namespace {

constexpr char16_t canary = 0xBEEF;

void check(bool ok, const char* what) {
    if (ok) return;
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

std::vector<std::u16string> fields(const uint8_t* data, size_t size) {
    std::vector<std::u16string> out(1);
    for (size_t i = 0; i + 1 < size; i += 2) {
        char16_t unit = static_cast<char16_t>(data[i] | data[i + 1] << 8);
        if (unit == 0xFFFF) {
            out.emplace_back();
        } else {
            out.back() += unit == 0 ? u'0' : unit;   // text here never holds a NUL
        }
    }
    out.resize(9);
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    const size_t capacity = 1 + (data[0] | data[1] << 8) % path_capacity;
    const uint8_t flags = data[2];
    std::vector<std::u16string> field = fields(data + 3, size - 3);
    const std::u16string& spec = field[0];

    fake_reset();
    const FakeResetAtEnd reset_at_end;
    fresh_launcher_state();
    FakeOs& os = fake_os();
    const char16_t* variables[] = {u"ZEMBRA_ONEFILE_START", u"ZEMBRA_ONEFILE_TIME_US", u"ZEMBRA_ONEFILE_RANDOM",
                                   u"ZEMBRA_ONEFILE_PARENT"};
    for (int i = 0; i < 4; ++i)
        if (flags & (16 << i)) os.env[variables[i]] = field[1 + i];
    if (flags & 1) os.module_path.reset(); else if (!field[5].empty()) os.module_path = field[5];
    if (flags & 2) os.temp_dir.reset(); else if (!field[6].empty()) os.temp_dir = field[6];
    if (flags & 4) os.profile.reset(); else if (!field[7].empty()) os.profile = field[7];
    if (flags & 8) os.local_app_data.reset(); else if (!field[8].empty()) os.local_app_data = field[8];

    // Exactly the capacity, so that ASan sees any unit written past it.
    std::unique_ptr<char16_t[]> output(new char16_t[capacity]);
    for (size_t i = 0; i < capacity; ++i) output[i] = canary;

    bool stopped = false, result = false;
    try {
        result = expand_spec(output.get(), spec.c_str(), capacity);
    } catch (const FatalEnd& end) {
        check(end.kind == FatalKind::stop, "an ending other than the silent stop");
        stopped = true;
    }
    release_process_memory();
    if (stopped) return 0;

    size_t length = 0;
    while (length < capacity && output[length] != 0) ++length;
    check(length < capacity, "output not NUL-terminated within its capacity");
    const std::u16string text(output.get(), length);
    if (spec.find(u'{') == std::u16string::npos) {
        if (result)
            check(text == spec, "a template without placeholders changed");
        else
            check(spec.size() > capacity - 1 && text == spec.substr(0, capacity - 1),
                  "a plain template refused although it fits, or cut wrongly");
    }
    return 0;
}
