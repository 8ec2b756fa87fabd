#include "text/utf16.h"

#include <cstdint>

size_t text_length(const char16_t* text) {
    size_t n = 0;
    while (text[n] != 0) ++n;
    return n;
}

bool text_equal(const char16_t* a, const char16_t* b) {
    while (*a != 0 && *a == *b) {
        ++a;
        ++b;
    }
    return *a == *b;
}

void text_to_utf8(const char16_t* text, char* out, size_t capacity) {
    if (capacity == 0) return;
    size_t used = 0;
    for (size_t i = 0; text[i] != 0; ++i) {
        uint32_t code = text[i];
        if (code >= 0xD800 && code <= 0xDBFF && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            code = 0x10000 + ((code - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (code >= 0xD800 && code <= 0xDFFF) {
            code = 0xFFFD;
        }
        char bytes[4];
        size_t n;
        if (code < 0x80) {
            bytes[0] = static_cast<char>(code);
            n = 1;
        } else if (code < 0x800) {
            bytes[0] = static_cast<char>(0xC0 | (code >> 6));
            bytes[1] = static_cast<char>(0x80 | (code & 0x3F));
            n = 2;
        } else if (code < 0x10000) {
            bytes[0] = static_cast<char>(0xE0 | (code >> 12));
            bytes[1] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            bytes[2] = static_cast<char>(0x80 | (code & 0x3F));
            n = 3;
        } else {
            bytes[0] = static_cast<char>(0xF0 | (code >> 18));
            bytes[1] = static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            bytes[2] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            bytes[3] = static_cast<char>(0x80 | (code & 0x3F));
            n = 4;
        }
        if (used + n + 1 > capacity) break;
        for (size_t k = 0; k < n; ++k) out[used++] = bytes[k];
    }
    out[used] = 0;
}
