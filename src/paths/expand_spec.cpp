#include "paths/expand_spec.h"

#include "launcher/builtin.h"
#include "launcher/text.h"
#include "paths/held_values.h"
#include "paths/placeholders.h"
#include "platform/platform.h"

namespace {

constexpr size_t name_capacity = 1024;
constexpr size_t scratch_capacity = 1024;

// Folder values end without a separator, so that the template's own
// separator after them is the only one. This may reach into text written
// before the placeholder, but never before the start of the output.
void drop_trailing_separators(char16_t* output) {
    size_t length = text_length(output);
    while (length > 0 && output[length - 1] == path_separator) output[--length] = 0;
}

bool ends_with_exe(const char16_t* text, size_t length) {
    if (length < 4) return false;
    const char16_t* tail = text + length - 4;
    return tail[0] == u'.' && ascii_upper(tail[1]) == u'E' && ascii_upper(tail[2]) == u'X' &&
           ascii_upper(tail[3]) == u'E';
}

// The system writes these two in place, at `at`, cut to `capacity`.
bool put_temp(char16_t* at, size_t capacity) {
    os_temp_dir(at, capacity);
    // No temporary directory is never a right answer: an empty value would
    // turn "{TEMP}\x" into a folder in the root of the drive.
    return at[0] != 0;
}

bool put_program(char16_t* at, size_t capacity) {
    if (os_module_path(at, capacity) == 0) {
        at[0] = 0;
        return false;
    }
    return true;
}

bool append_known_folder(char16_t* output, size_t capacity, KnownFolder which) {
    char16_t folder[scratch_capacity] = {0};
    if (!os_known_folder(which, folder, scratch_capacity)) return false;
    text_append(output, folder, capacity);
    drop_trailing_separators(output);
    return true;
}

// Appends the value of one placeholder; false when it cannot be had.
bool append_placeholder(char16_t* output, size_t capacity, Placeholder which) {
    size_t length = text_length(output);
    char16_t* at = output + length;
    size_t room = capacity - 1 - length;
    switch (which) {
    case Placeholder::temp:
        if (!put_temp(at, room + 1)) return false;
        drop_trailing_separators(output);
        return true;
    case Placeholder::program:
        return put_program(at, room + 1);
    case Placeholder::program_base:
        if (!expand_spec(at, u"{PROGRAM}", room + 1)) return false;
        if (ends_with_exe(at, text_length(at))) at[text_length(at) - 4] = 0;
        return true;
    case Placeholder::program_dir: {
        if (!expand_spec(at, u"{PROGRAM}", room + 1)) return false;
        size_t cut = text_length(at);
        while (cut > 0 && at[cut - 1] != path_separator) --cut;
        if (cut > 0) at[cut - 1] = 0;
        return true;
    }
    case Placeholder::pid:
        append_held_pid(output, capacity);
        return true;
    case Placeholder::home:
        return append_known_folder(output, capacity, KnownFolder::profile);
    case Placeholder::cache_dir:
        return append_known_folder(output, capacity, KnownFolder::local_app_data);
    case Placeholder::company:
        text_append(output, launcher_company(), capacity);
        return true;
    case Placeholder::product:
        text_append(output, launcher_product(), capacity);
        return true;
    case Placeholder::version:
    case Placeholder::file_version:
    case Placeholder::product_version:
        text_append(output, launcher_version(), capacity);
        return true;
    case Placeholder::random:
        append_held_random(output, capacity);
        return true;
    case Placeholder::time_us:
        append_held_time_us(output, capacity);
        return true;
    case Placeholder::time:
        append_held_time(output, capacity);
        return true;
    case Placeholder::unknown:
        break;
    }
    return false;
}

}  // namespace

bool expand_spec(char16_t* output, const char16_t* spec, size_t capacity) {
    // Not even room for the NUL: nothing can be produced.
    if (capacity == 0) return false;
    output[0] = 0;
    size_t length = 0;

    bool in_placeholder = false;
    char16_t name[name_capacity];
    size_t name_length = 0;
    // A name longer than the buffer can match no placeholder; it is
    // remembered as such instead of being cut to something that might.
    bool name_too_long = false;

    for (const char16_t* c = spec; *c != 0; ++c) {
        if (*c == u'{') {
            // A brace inside a placeholder starts it again: {AB{TEMP} is {TEMP}.
            in_placeholder = true;
            name_length = 0;
            name_too_long = false;
        } else if (in_placeholder && *c == u'}') {
            in_placeholder = false;
            Placeholder which = name_too_long ? Placeholder::unknown : find_placeholder(name, name_length);
            if (!append_placeholder(output, capacity, which)) return false;
            length = text_length(output);
        } else if (in_placeholder) {
            if (name_length + 1 < name_capacity)
                name[name_length++] = *c;
            else
                name_too_long = true;
        } else {
            // Plain text, a "}" outside a placeholder included: there is no
            // escape, so this is the only way to put a brace in a path.
            if (length + 1 >= capacity) return false;
            output[length++] = *c;
            output[length] = 0;
        }
    }
    // A placeholder still open at the end is dropped: "abc{TEM" gives "abc".
    return true;
}
