#include <cstdlib>
#include <cstring>

#include "platform/platform.h"
#include "platform/posix/convert.h"

namespace {

// Each UTF-16 unit takes at most three bytes of UTF-8 (a pair takes four).
char* to_native(const char16_t* text) {
    size_t units = 0;
    while (text[units] != 0) ++units;
    size_t capacity = 3 * units + 1;
    auto* native = static_cast<char*>(std::malloc(capacity));
    if (native != nullptr && !utf16_to_native(text, native, capacity)) {
        std::free(native);
        native = nullptr;
    }
    return native;
}

}  // namespace

size_t os_get_env(const char16_t* name, char16_t* value, size_t capacity) {
    char* native_name = to_native(name);
    if (native_name == nullptr) return 0;
    const char* native = std::getenv(native_name);
    std::free(native_name);
    if (native == nullptr || native[0] == 0) return 0;

    // UTF-16 never needs more units than UTF-8 has bytes.
    size_t bytes = std::strlen(native);
    auto* wide = static_cast<char16_t*>(std::malloc((bytes + 1) * sizeof(char16_t)));
    if (wide == nullptr) return 0;
    native_to_utf16(native, wide, bytes + 1);
    size_t length = 0;
    while (wide[length] != 0) ++length;
    if (length + 1 > capacity) {
        std::free(wide);
        return length + 1;
    }
    std::memcpy(value, wide, (length + 1) * sizeof(char16_t));
    std::free(wide);
    return length;
}

bool os_set_env(const char16_t* name, const char16_t* value) {
    char* native_name = to_native(name);
    if (native_name == nullptr) return false;
    bool ok;
    if (value == nullptr) {
        ok = unsetenv(native_name) == 0;
    } else {
        char* native_value = to_native(value);
        ok = native_value != nullptr && setenv(native_name, native_value, 1) == 0;
        std::free(native_value);
    }
    std::free(native_name);
    return ok;
}
