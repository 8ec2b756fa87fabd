// The placeholders of a path template, by name: the launcher expands them,
// the packer refuses a template naming anything else.
#pragma once

#include <cstddef>

enum class Placeholder {
    temp, program, program_base, program_dir, pid, home, cache_dir, company, product,
    version, file_version, product_version, random, time_us, time, unknown,
};

struct NamedPlaceholder {
    const char* name;
    Placeholder which;
};

inline constexpr NamedPlaceholder placeholders[] = {
    {"TEMP", Placeholder::temp},
    {"PROGRAM", Placeholder::program},
    {"PROGRAM_BASE", Placeholder::program_base},
    {"PROGRAM_DIR", Placeholder::program_dir},
    {"PID", Placeholder::pid},
    {"HOME", Placeholder::home},
    {"CACHE_DIR", Placeholder::cache_dir},
    {"COMPANY", Placeholder::company},
    {"PRODUCT", Placeholder::product},
    {"VERSION", Placeholder::version},
    {"FILE_VERSION", Placeholder::file_version},
    {"PRODUCT_VERSION", Placeholder::product_version},
    {"RANDOM", Placeholder::random},
    {"TIME_US", Placeholder::time_us},
    {"TIME", Placeholder::time},
};

// Folds the ASCII letters a to z to upper case and nothing else.
template <typename Unit>
constexpr Unit ascii_upper(Unit c) {
    return c >= Unit('a') && c <= Unit('z') ? static_cast<Unit>(c - Unit('a') + Unit('A')) : c;
}

// The placeholder whose name is the whole of `name` (`length` units, ASCII
// letters in either case), or unknown. Units are UTF-16 in the launcher and
// UTF-8 bytes in the packer; only ASCII ever matches.
template <typename Unit>
constexpr Placeholder find_placeholder(const Unit* name, size_t length) {
    for (const NamedPlaceholder& entry : placeholders) {
        size_t i = 0;
        while (i < length && entry.name[i] != 0 &&
               ascii_upper(name[i]) == static_cast<Unit>(entry.name[i]))
            ++i;
        if (i == length && entry.name[i] == 0) return entry.which;
    }
    return Placeholder::unknown;
}
