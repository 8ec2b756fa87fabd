#include "utf8.h"

#include <cstdio>

namespace {

// Decodes one code point at `text[*pos]`; false on a malformed sequence.
bool next_code_point(const std::string& text, size_t* pos, char32_t* out) {
    auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    unsigned char lead = byte(*pos);
    size_t extra;
    char32_t value;
    char32_t minimum;
    if (lead < 0x80) {
        *out = lead;
        *pos += 1;
        return true;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        extra = 1, value = lead & 0x1F, minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        extra = 2, value = lead & 0x0F, minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        extra = 3, value = lead & 0x07, minimum = 0x10000;
    } else {
        return false;
    }
    if (*pos + extra >= text.size()) return false;   // sequence cut short
    for (size_t i = 1; i <= extra; ++i) {
        unsigned char c = byte(*pos + i);
        if ((c & 0xC0) != 0x80) return false;
        value = (value << 6) | (c & 0x3F);
    }
    if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return false;
    *out = value;
    *pos += extra + 1;
    return true;
}

}  // namespace

bool utf8_to_utf16(const std::string& text, std::u16string* out) {
    out->clear();
    size_t pos = 0;
    while (pos < text.size()) {
        char32_t c;
        if (!next_code_point(text, &pos, &c)) return false;
        if (c < 0x10000) {
            out->push_back(static_cast<char16_t>(c));
        } else {
            c -= 0x10000;
            out->push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
            out->push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
        }
    }
    return true;
}

bool is_valid_utf8(const std::string& text) {
    std::u16string ignored;
    return utf8_to_utf16(text, &ignored);
}

std::string printable(const std::string& text) {
    std::string result;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t start = pos;
        char32_t c;
        if (next_code_point(text, &pos, &c) && c >= 0x20 && c != 0x7F) {
            result.append(text, start, pos - start);
        } else {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02X", static_cast<unsigned char>(text[start]));
            result += escape;
            pos = start + 1;
        }
    }
    return result;
}

void append_utf8(std::string* out, char32_t c) {
    if (c < 0x80) {
        out->push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out->push_back(static_cast<char>(0xC0 | c >> 6));
        out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out->push_back(static_cast<char>(0xE0 | c >> 12));
        out->push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out->push_back(static_cast<char>(0xF0 | c >> 18));
        out->push_back(static_cast<char>(0x80 | (c >> 12 & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}
