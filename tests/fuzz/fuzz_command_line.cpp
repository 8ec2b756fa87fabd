// build_child_command_line over any argument vector and module path. Split
// again by the system's rules, the line must give back every argument after
// argument 0 except the empty ones; the launcher may stop only when it
// cannot have its module path or split, or when the line could not fit.
//
// Input: a flags byte, a pad length (2 bytes, little-endian) and a pad unit
// (2 bytes), then UTF-16LE units split at 0xFFFF into the module path and
// the arguments (argument 0 first). When the pad length is not 0, an
// argument of that many pad units is added after the others: a short input
// can so reach the line's capacity.
//   flags bit 0  the module path cannot be had
//         bit 1  the command line cannot be split
//         bit 2  a long pad: its length is taken modulo the longest line
//                plus 2 (else it is the low byte alone)
// A line near the limit costs the launcher's instrumented joining some
// 30,000 units: were every length equally likely, as the two bytes taken
// whole make it, most inputs would be such lines, and most of the fuzzer's
// time would go to joining plain units. Behind the flag, every length is
// still reached, and the many inputs that change something else are short.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <string>
#include <vector>

#include "child/command_line.h"
#include "command_line_split.h"
#include "fake_os.h"
#include "fatal_ends.h"
#include "launcher/state.h"
#include "process_memory.h"

namespace {

void check(bool ok, const char* what) {
    if (ok) return;
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

size_t line_length() {
    size_t n = 0;
    while (n < command_line_capacity && launcher.child_command_line[n] != 0) ++n;
    return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 5) return 0;
    const uint8_t flags = data[0];
    // Taken modulo one past the longest line: any longer pad cannot fit either,
    // and only costs time to refuse.
    const size_t pad_length = flags & 4 ? (data[1] | data[2] << 8) % (longest_command_line + 2) : data[1];
    char16_t pad_unit = static_cast<char16_t>(data[3] | data[4] << 8);
    if (pad_unit == 0 || pad_unit == 0xFFFF) pad_unit = u'p';

    std::vector<std::u16string> field(1);
    for (size_t i = 5; i + 1 < size; i += 2) {
        char16_t unit = static_cast<char16_t>(data[i] | data[i + 1] << 8);
        if (unit == 0xFFFF)
            field.emplace_back();
        else
            field.back() += unit == 0 ? u'0' : unit;   // arguments never hold a NUL
    }
    // A file name never holds a quote; argument 0 is split by a rule that
    // does not allow for one.
    std::u16string module = field[0];
    for (char16_t& unit : module)
        if (unit == u'"') unit = u'q';

    fake_reset();
    const FakeResetAtEnd reset_at_end;
    fresh_launcher_state();
    FakeOs& os = fake_os();
    std::vector<std::u16string>& args = os.command_line_args;
    args.assign(std::make_move_iterator(field.begin() + 1), std::make_move_iterator(field.end()));
    if (args.empty()) args.push_back(u"launcher");
    if (pad_length > 0) args.push_back(std::u16string(pad_length, pad_unit));
    os.split_fails = flags & 2;
    if (flags & 1 || module.empty())
        os.module_path.reset();
    else
        os.module_path = module;

    // The shortest and longest any correct join of these arguments can be.
    std::u16string used_module = module.substr(0, path_capacity - 1);
    size_t shortest = used_module.size(), longest = 2 * used_module.size() + 2;
    for (size_t i = 1; i < args.size(); ++i) {
        shortest += 1 + args[i].size();
        longest += 1 + 2 * args[i].size() + 2;
    }

    bool stopped = false;
    try {
        build_child_command_line();
    } catch (const FatalEnd& end) {
        check(end.kind == FatalKind::stop, "an ending other than the silent stop");
        stopped = true;
    }
    release_process_memory();
    if (stopped) {
        check(os.split_fails || !os.module_path || longest > longest_command_line,
              "a stop although the line fits");
        return 0;
    }
    check(!os.split_fails && os.module_path, "no stop without the split or the module path");
    check(shortest <= longest_command_line, "a line longer than the system takes");
    check(line_length() <= longest_command_line, "a line longer than the system takes");

    const std::vector<std::u16string> split = command_line_split::split_after_first(launcher.child_command_line);
    size_t next = 0;
    for (size_t i = 1; i < args.size(); ++i) {
        if (args[i].empty()) continue;
        check(next < split.size() && split[next] == args[i], "the line does not split back into the arguments");
        ++next;
    }
    check(next == split.size(), "the line does not split back into the arguments");
    return 0;
}
