#include "text_display.h"

#include <cstdio>

#include "utf8.h"

namespace {

bool is_high(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool is_low(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

std::string unit_escape(char16_t unit) {
    char text[8];
    std::snprintf(text, sizeof text, "\\u%04X", static_cast<unsigned>(unit));
    return text;
}

// Walks `units`, handing each code point to `point` and each unpaired
// surrogate to `lone`.
template <typename Point, typename Lone>
void each_code_point(const std::u16string& units, Point point, Lone lone) {
    for (size_t i = 0; i < units.size(); ++i) {
        char16_t unit = units[i];
        if (is_high(unit) && i + 1 < units.size() && is_low(units[i + 1])) {
            point(0x10000 + ((char32_t(unit) - 0xD800) << 10) + (units[i + 1] - 0xDC00));
            ++i;
        } else if (is_high(unit) || is_low(unit)) {
            lone(unit);
        } else {
            point(unit);
        }
    }
}

}  // namespace

bool utf16_to_utf8(const std::u16string& units, std::string* out) {
    out->clear();
    bool valid = true;
    each_code_point(units, [&](char32_t c) { append_utf8(out, c); }, [&](char16_t) { valid = false; });
    return valid;
}

std::string display_name(const std::u16string& name) {
    std::string shown;
    each_code_point(
        name,
        [&](char32_t c) {
            std::string one;
            append_utf8(&one, c == u'\\' ? u'/' : c);
            shown += printable(one);
        },
        [&](char16_t unit) { shown += unit_escape(unit); });
    return shown;
}

std::string json_string(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out.push_back('\\');
            out.push_back(static_cast<char>(c));
        } else if (c < 0x20) {
            out += unit_escape(c);
        } else {
            out.push_back(static_cast<char>(c));
        }
    }
    return out + "\"";
}

std::string json_name(const std::u16string& name) {
    std::string out = "\"";
    each_code_point(
        name,
        [&](char32_t c) {
            if (c == u'\\') c = u'/';
            if (c == u'"') {
                out += "\\\"";
            } else if (c < 0x20) {
                out += unit_escape(static_cast<char16_t>(c));
            } else {
                append_utf8(&out, c);
            }
        },
        [&](char16_t unit) { out += unit_escape(unit); });
    return out + "\"";
}
