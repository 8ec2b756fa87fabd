#include "version_block.h"

#include <vector>

#include "identity_check.h"
#include "launcher/identity_defaults.h"
#include "little_endian.h"
#include "utf8.h"

namespace {

// The block records its own length and every part's in 16 bits; a longer
// block would be written with wrapped lengths, and unreadable. Seven values
// of this many units stay well inside 64 KiB.
const size_t max_value_units = 4096;

enum : uint16_t { binary_value = 0, text_value = 1 };

void append_units(std::string* out, const std::u16string& units) {
    for (char16_t unit : units) append_le(out, unit, 2);
    append_le(out, 0, 2);
}

void pad_to_4(std::string* out) { out->resize(align_up(out->size(), 4), '\0'); }

// One node of the block: its length, the length of its value (in bytes for
// binary values, in units with the NUL for text), its kind, its key, its
// value and its children, each starting on a 4-byte boundary.
std::string node(const std::u16string& key, uint16_t value_length, uint16_t kind, const std::string& value,
                 const std::vector<std::string>& children = {}) {
    std::string out(6, '\0');
    append_units(&out, key);
    pad_to_4(&out);
    out += value;
    for (const std::string& child : children) {
        pad_to_4(&out);
        out += child;
    }
    set_le(&out, 0, out.size(), 2);
    set_le(&out, 2, value_length, 2);
    set_le(&out, 4, kind, 2);
    return out;
}

bool string_node(const char* key, const char* option, const std::string& value, std::string* out,
                 std::string* error) {
    std::u16string units;
    if (!utf8_to_utf16(value, &units)) {
        *error = std::string(option) + ": not valid UTF-8";
        return false;
    }
    if (units.size() > max_value_units) {
        *error = std::string(option) + " is longer than " + std::to_string(max_value_units) +
                 " UTF-16 units, more than the version block holds";
        return false;
    }
    std::u16string key_units;
    utf8_to_utf16(key, &key_units);
    std::string text;
    append_units(&text, units);
    *out = node(key_units, static_cast<uint16_t>(units.size() + 1), text_value, text);
    return true;
}

}  // namespace

bool version_block(const Identity& identity, std::string* block, std::string* error) {
    unsigned v[3];
    if (!parse_version(identity.version, v, error)) return false;
    // The block's version has four parts; the launcher's has three.
    const std::string dotted = identity.version + ".0";
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
    std::vector<std::string> strings;
    for (const auto& value : values) {
        strings.emplace_back();
        if (!string_node(value.key, value.option, value.value, &strings.back(), error)) return false;
    }

    std::string fixed;
    const uint32_t version_ms = v[0] << 16 | v[1], version_ls = v[2] << 16;
    for (uint32_t field : {0xFEEF04BDu, 0x00010000u,            // signature, structure version
                           version_ms, version_ls, version_ms, version_ls,   // file, product
                           0x3Fu, 0u, 0x4u, 0x1u, 0u,           // flags mask, flags, 32-bit Windows, application, subtype
                           0u, 0u})                            // date
        append_le(&fixed, field, 4);

    std::string translation;
    append_le(&translation, 0x0000, 2);   // language neutral
    append_le(&translation, 0x04B0, 2);   // UTF-16
    const std::string string_info =
        node(u"StringFileInfo", 0, text_value, "", {node(u"000004b0", 0, text_value, "", strings)});
    const std::string var_info =
        node(u"VarFileInfo", 0, text_value, "", {node(u"Translation", 4, binary_value, translation)});
    *block = node(u"VS_VERSION_INFO", static_cast<uint16_t>(fixed.size()), binary_value, fixed,
                  {string_info, var_info});
    return true;
}
