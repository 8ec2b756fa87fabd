#include "identity_check.h"

#include "paths/placeholders.h"
#include "payload/block_format.h"
#include "utf8.h"

namespace {

// The launcher keeps the expanded template in a path buffer.
const size_t max_spec_units = path_capacity - 1;

}  // namespace

bool parse_version(const std::string& version, unsigned parts[3], std::string* error) {
    size_t at = 0;
    for (int part = 0; part < 3; ++part) {
        size_t digits = 0;
        unsigned long value = 0;
        while (at < version.size() && version[at] >= '0' && version[at] <= '9' && digits < 6) {
            value = value * 10 + static_cast<unsigned long>(version[at] - '0');
            ++at, ++digits;
        }
        const bool separator_ok = part == 2 ? at == version.size() : at < version.size() && version[at] == '.';
        if (digits == 0 || digits > 5 || value > 65535 || !separator_ok) {
            *error = "--version \"" + printable(version) +
                     "\" must be three dot-separated numbers from 0 to 65535, like " + default_version;
            return false;
        }
        parts[part] = static_cast<unsigned>(value);
        ++at;
    }
    return true;
}

bool is_valid_version(const std::string& version) {
    unsigned parts[3];
    std::string ignored;
    return parse_version(version, parts, &ignored);
}

bool check_unpack_spec(const std::string& spec, std::string* error) {
    std::u16string units;
    utf8_to_utf16(spec, &units);
    if (units.size() > max_spec_units) {
        *error = "--unpack-spec is longer than " + std::to_string(max_spec_units) + " UTF-16 units";
        return false;
    }
    bool inside = false;
    std::string name;
    for (char c : spec) {
        if (c == '{') {
            if (inside) {
                *error = "--unpack-spec \"" + printable(spec) + "\": a placeholder opens inside another";
                return false;
            }
            inside = true;
            name.clear();
        } else if (c == '}') {
            if (!inside) {
                *error = "--unpack-spec \"" + printable(spec) + "\": \"}\" without \"{\"";
                return false;
            }
            // Anything else would make every start of the launcher fail.
            if (find_placeholder(name.data(), name.size()) == Placeholder::unknown) {
                *error = "--unpack-spec \"" + printable(spec) + "\": unknown placeholder {" + printable(name) + "}";
                return false;
            }
            inside = false;
        } else if (inside) {
            name += c;
        }
    }
    if (inside) {
        *error = "--unpack-spec \"" + printable(spec) + "\": placeholder not closed";
        return false;
    }
    return true;
}

bool check_identity_text(const std::string& option, const std::string& value, std::string* error) {
    if (value.empty()) {
        *error = option + " must not be empty";
        return false;
    }
    if (!is_valid_utf8(value)) {
        *error = option + " \"" + printable(value) + "\" is not valid UTF-8";
        return false;
    }
    // The launcher reads its texts up to their first NUL (a project file
    // can give one as \u0000): it would use only the part before it.
    if (value.find('\0') != std::string::npos) {
        *error = option + " \"" + printable(value) + "\" holds a NUL character";
        return false;
    }
    unsigned parts[3];
    if (option == "--version") return parse_version(value, parts, error);
    if (option == "--unpack-spec") return check_unpack_spec(value, error);
    return true;
}

bool check_identity(const Identity& identity, std::string* error) {
    struct Field {
        const char* option;
        const std::string* value;
    };
    const Field fields[] = {
        {"--company", &identity.company},
        {"--product", &identity.product},
        {"--version", &identity.version},
        {"--unpack-spec", &identity.unpack_spec},
        {"--description", &identity.description},
        {"--original-filename", &identity.original_filename},
        {"--internal-name", &identity.internal_name},
    };
    for (const Field& field : fields) {
        if (!check_identity_text(field.option, *field.value, error)) return false;
    }
    return true;
}
