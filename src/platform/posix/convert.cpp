#include "platform/posix/convert.h"

#include <cstdint>

#include "text/utf16.h"

bool utf16_to_native(const char16_t* text, char* out, size_t capacity) {
    text_to_utf8(text, out, capacity);
    size_t produced = 0;
    while (out[produced] != 0) ++produced;
    // Cut short when the UTF-8 holds fewer bytes than the text needs at least.
    return produced >= text_length(text);
}

bool native_to_utf16(const char* text, char16_t* out, size_t capacity) {
    if (capacity == 0) return false;
    const auto* s = reinterpret_cast<const unsigned char*>(text);
    size_t used = 0;
    while (*s != 0) {
        uint32_t code = 0xFFFD;
        size_t extra = 0;
        if (*s < 0x80) {
            code = *s;
        } else if ((*s & 0xE0) == 0xC0) {
            code = *s & 0x1F, extra = 1;
        } else if ((*s & 0xF0) == 0xE0) {
            code = *s & 0x0F, extra = 2;
        } else if ((*s & 0xF8) == 0xF0) {
            code = *s & 0x07, extra = 3;
        }
        ++s;
        for (size_t k = 0; k < extra; ++k) {
            if ((*s & 0xC0) != 0x80) {
                code = 0xFFFD;
                break;
            }
            code = (code << 6) | (*s++ & 0x3F);
        }
        size_t units = code >= 0x10000 ? 2 : 1;
        if (used + units + 1 > capacity) {
            out[used] = 0;
            return false;
        }
        if (units == 2) {
            code -= 0x10000;
            out[used++] = static_cast<char16_t>(0xD800 + (code >> 10));
            out[used++] = static_cast<char16_t>(0xDC00 + (code & 0x3FF));
        } else {
            out[used++] = static_cast<char16_t>(code);
        }
    }
    out[used] = 0;
    return true;
}
