#include "identity_check.h"

#include "paths/placeholders.h"
#include "payload/block_format.h"
#include "utf8.h"

namespace {

// The launcher keeps the expanded template in a path buffer.
const size_t max_spec_units = path_capacity - 1;

}  // namespace

bool is_valid_version(const std::string& version) {
    int parts = 0;
    size_t pos = 0;
    while (true) {
        size_t end = version.find('.', pos);
        std::string part = version.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
        if (part.empty() || part.size() > 5) return false;
        for (char c : part) {
            if (c < '0' || c > '9') return false;
        }
        if (std::stoul(part) > 65535) return false;
        ++parts;
        if (end == std::string::npos) break;
        pos = end + 1;
    }
    return parts == 3;
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
                *error = "--unpack-spec \"" + spec + "\": a placeholder opens inside another";
                return false;
            }
            inside = true;
            name.clear();
        } else if (c == '}') {
            if (!inside) {
                *error = "--unpack-spec \"" + spec + "\": \"}\" without \"{\"";
                return false;
            }
            // Anything else would make every start of the launcher fail.
            if (find_placeholder(name.data(), name.size()) == Placeholder::unknown) {
                *error = "--unpack-spec \"" + spec + "\": unknown placeholder {" + name + "}";
                return false;
            }
            inside = false;
        } else if (inside) {
            name += c;
        }
    }
    if (inside) {
        *error = "--unpack-spec \"" + spec + "\": placeholder not closed";
        return false;
    }
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
        if (field.value->empty()) {
            *error = std::string(field.option) + " must not be empty";
            return false;
        }
        if (!is_valid_utf8(*field.value)) {
            *error = std::string(field.option) + " \"" + printable(*field.value) + "\" is not valid UTF-8";
            return false;
        }
    }
    if (!is_valid_version(identity.version)) {
        *error = "--version \"" + identity.version + "\" must be three dot-separated numbers from 0 to 65535, like " + default_version;
        return false;
    }
    return check_unpack_spec(identity.unpack_spec, error);
}
