#include "launcher/env.h"

#include <cstdint>
#include <cstdlib>
#include <cwchar>

#include "launcher/fatal.h"
#include "launcher/state.h"
#include "launcher/text.h"
#include "platform/platform.h"

namespace {

constexpr size_t name_capacity = 40;

void widen_name(char16_t (&name)[name_capacity], const char* text) {
    name[0] = 0;
    append_widened(name, text, name_capacity);
}

}  // namespace

void append_widened(char16_t* dest, const char* text, size_t capacity) {
    size_t used = text_length(dest);
    for (const char* c = text; *c != 0; ++c) {
        // One character at a time, so a character that does not become
        // exactly one unit is caught (only ASCII is ever passed).
        char one[2] = {*c, 0};
        wchar_t wide[2];
        if (std::mbstowcs(wide, one, 2) != 1) fatal_stop();
        // wchar_t is 32 bits on POSIX: a unit must still fit UTF-16.
        uint32_t unit = static_cast<uint32_t>(wide[0]);
        if (unit > 0xFFFF) fatal_stop();
        if (used + 2 > capacity) fatal_stop();
        dest[used++] = static_cast<char16_t>(unit);
        dest[used] = 0;
    }
}

char16_t* get_env_var(const char* name) {
    char16_t wide_name[name_capacity];
    widen_name(wide_name, name);
    char16_t* value = launcher.env_value;
    size_t length = os_get_env(wide_name, value, env_value_capacity);
    if (length == 0 || length >= env_value_capacity) return nullptr;
    auto* copy = static_cast<char16_t*>(std::malloc((length + 1) * sizeof(char16_t)));
    if (copy == nullptr) return nullptr;
    for (size_t i = 0; i <= length; ++i) copy[i] = value[i];
    return copy;
}

bool set_env_var(const char* name, const char16_t* value) {
    char16_t wide_name[name_capacity];
    widen_name(wide_name, name);
    return os_set_env(wide_name, value);
}

void remove_env_var(const char* name) {
    char16_t wide_name[name_capacity];
    widen_name(wide_name, name);
    os_set_env(wide_name, nullptr);
}
