// The process entry on POSIX: the argument vector is kept as UTF-16, as the
// logic expects, and the launcher's return value becomes the exit status.
#include <cstdlib>
#include <cstring>

#include "launcher/main.h"
#include "platform/platform.h"
#include "platform/posix/convert.h"
#include "platform/posix/ending.h"

namespace {

char16_t** wide_args = nullptr;
int wide_count = 0;

}  // namespace

char16_t** os_runtime_args(int* count) {
    *count = wide_count;
    return wide_args;
}

// An array of its own, as the system's split gives on Windows: the caller
// replaces argument 0, and the runtime's vector must keep it.
char16_t** os_split_command_line(int* count) {
    static char16_t** split = nullptr;
    if (split == nullptr) {
        split = static_cast<char16_t**>(std::calloc(static_cast<size_t>(wide_count) + 1, sizeof(char16_t*)));
        if (split == nullptr) return nullptr;
        for (int i = 0; i < wide_count; ++i) split[i] = wide_args[i];
    }
    *count = wide_count;
    return split;
}

void os_restrict_dll_search() {}

int main(int argc, char** argv) {
    wide_args = static_cast<char16_t**>(std::calloc(static_cast<size_t>(argc) + 1, sizeof(char16_t*)));
    if (wide_args == nullptr) return 2;
    for (int i = 0; i < argc; ++i) {
        size_t capacity = std::strlen(argv[i]) + 1;   // UTF-16 never needs more units than UTF-8 bytes
        wide_args[i] = static_cast<char16_t*>(std::malloc(capacity * sizeof(char16_t)));
        if (wide_args[i] == nullptr) return 2;
        native_to_utf16(argv[i], wide_args[i], capacity);
    }
    wide_count = argc;
    return launcher_exit_status(launcher_main());
}
