#include "paths/held_values.h"

#include <cstdio>
#include <cstdlib>

#include "launcher/env.h"
#include "launcher/fatal.h"
#include "launcher/text.h"
#include "paths/expand_spec.h"
#include "platform/platform.h"

namespace {

constexpr size_t fresh_capacity = 1024;

// The variable's text when it has one; otherwise `make` writes a fresh
// narrow text, which is stored in the variable before it is used.
void append_held(char16_t* output, size_t capacity, const char* variable, void (*make)(char* text, size_t size)) {
    if (char16_t* held = get_env_var(variable)) {
        text_append(output, held, capacity);
        std::free(held);
        return;
    }
    char narrow[64];
    make(narrow, sizeof narrow);
    char16_t fresh[fresh_capacity] = {0};
    append_widened(fresh, narrow, fresh_capacity);
    set_env_var(variable, fresh);
    text_append(output, fresh, capacity);
}

void make_time(char* text, size_t size) {
    std::snprintf(text, size, "%lld", static_cast<long long>(os_system_time()));
}

void make_time_us(char* text, size_t size) {
    // A clock reading of its own: it need not match the one of {TIME}.
    uint64_t now = os_system_time();
    std::snprintf(text, size, "%06ld", static_cast<long>((now / 10) % 1000000));
}

void make_random(char* text, size_t size) {
    uint64_t counter = os_performance_counter();
    // The counter's own address adds what address-space randomisation varies.
    uint64_t mixed = counter ^ static_cast<uint64_t>(reinterpret_cast<uintptr_t>(&counter));
    uint32_t seed = static_cast<uint32_t>(mixed) ^ static_cast<uint32_t>(mixed >> 32) ^ os_process_id();
    unsigned char bytes[8];
    random_bytes(seed, bytes);
    char encoded[12];
    encode_random_text(bytes, encoded);
    std::snprintf(text, size, "%s", encoded);
}

// Only the ASCII digits: a wider digit class (as some C runtimes have)
// would let other scripts' digits through into a path.
bool all_digits(const char16_t* text) {
    for (; *text != 0; ++text)
        if (*text < u'0' || *text > u'9') return false;
    return true;
}

}  // namespace

void append_held_time(char16_t* output, size_t capacity) {
    append_held(output, capacity, "ZEMBRA_ONEFILE_START", make_time);
}

void append_held_time_us(char16_t* output, size_t capacity) {
    append_held(output, capacity, "ZEMBRA_ONEFILE_TIME_US", make_time_us);
}

void append_held_random(char16_t* output, size_t capacity) {
    append_held(output, capacity, "ZEMBRA_ONEFILE_RANDOM", make_random);
}

void append_held_pid(char16_t* output, size_t capacity) {
    if (char16_t* held = get_env_var("ZEMBRA_ONEFILE_PARENT")) {
        if (!all_digits(held)) fatal_stop();
        text_append(output, held, capacity);
        std::free(held);
        return;
    }
    // Unsigned: a process id is a 32-bit unsigned number everywhere.
    char narrow[16];
    std::snprintf(narrow, sizeof narrow, "%lu", static_cast<unsigned long>(os_process_id()));
    char16_t text[16] = {0};
    append_widened(text, narrow, 16);
    text_append(output, text, capacity);
}
