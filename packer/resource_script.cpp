#include "resource_script.h"

#include <cstdio>

#include "identity_check.h"
#include "utf8.h"

namespace {

// The version block records its own length and every part's in 16 bits; a
// longer block would be written with wrapped lengths, and unreadable. Five
// values of this many units stay well inside 64 KiB.
const size_t max_value_units = 4096;

bool string_value(const char* key, const char* option, const std::string& value, std::string* script,
                  std::string* error) {
    std::string literal;
    if (!wide_literal(value, &literal, error)) {
        *error = std::string(option) + ": " + *error;
        return false;
    }
    std::u16string units;
    utf8_to_utf16(value, &units);
    if (units.size() > max_value_units) {
        *error = std::string(option) + " is longer than " + std::to_string(max_value_units) +
                 " UTF-16 units, more than the version block holds";
        return false;
    }
    *script += "      VALUE \"" + std::string(key) + "\", " + literal + "\n";
    return true;
}

}  // namespace

bool wide_literal(const std::string& text, std::string* literal, std::string* error) {
    std::u16string units;
    if (!utf8_to_utf16(text, &units)) {
        *error = "not valid UTF-8";
        return false;
    }
    *literal = "L\"";
    for (char16_t unit : units) {
        const bool plain = (unit >= 'a' && unit <= 'z') || (unit >= 'A' && unit <= 'Z') ||
                           (unit >= '0' && unit <= '9') || unit == ' ' || unit == '.' || unit == '-' || unit == '_';
        if (plain) {
            literal->push_back(static_cast<char>(unit));
        } else {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%04x", static_cast<unsigned>(unit));
            *literal += escape;
        }
    }
    *literal += "\"";
    return true;
}

std::string icon_file(size_t number) { return "resource-icon-" + std::to_string(number) + ".png"; }

bool resource_script(const Identity& identity, size_t icon_count, std::string* script, std::string* error) {
    unsigned v[3];
    if (!parse_version(identity.version, v, error)) return false;
    // The version block has four parts; the launcher's version has three.
    const std::string numbers = std::to_string(v[0]) + "," + std::to_string(v[1]) + "," + std::to_string(v[2]) + ",0";
    const std::string dotted = identity.version + ".0";

    std::string& s = *script;
    s = "LANGUAGE 0, 0\n\n";
    s += "1 24 \"" + std::string(manifest_file) + "\"\n\n";
    // Icons go in as raw resources: compiled from an .ico file, the group
    // would get 1 plane where the launcher lists 0.
    for (size_t i = 1; i <= icon_count; ++i) s += std::to_string(i) + " 3 \"" + icon_file(i) + "\"\n";
    s += "1 14 \"" + std::string(icon_group_file) + "\"\n\n";

    s += "1 VERSIONINFO\n";
    s += "FILEVERSION " + numbers + "\n";
    s += "PRODUCTVERSION " + numbers + "\n";
    s += "FILEFLAGSMASK 0x3F\nFILEFLAGS 0x0\nFILEOS 0x4\nFILETYPE 0x1\nFILESUBTYPE 0x0\n";
    s += "BEGIN\n  BLOCK \"StringFileInfo\"\n  BEGIN\n    BLOCK \"000004b0\"\n    BEGIN\n";
    const struct {
        const char* key;
        const char* option;
        const std::string& value;
    } values[] = {
        {"CompanyName", "--company", identity.company},
        {"ProductName", "--product", identity.product},
        {"FileDescription", "--description", identity.description},
        {"ProductVersion", "--version", dotted},
        {"FileVersion", "--version", dotted},
        {"OriginalFilename", "--original-filename", identity.original_filename},
        {"InternalName", "--internal-name", identity.internal_name},
    };
    for (const auto& value : values)
        if (!string_value(value.key, value.option, value.value, script, error)) return false;
    s += "    END\n  END\n  BLOCK \"VarFileInfo\"\n  BEGIN\n    VALUE \"Translation\", 0x0000, 0x04B0\n  END\nEND\n";
    return true;
}
