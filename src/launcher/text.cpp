#include "launcher/text.h"

#include "launcher/fatal.h"

void text_append(char16_t* dest, const char16_t* text, size_t capacity) {
    size_t used = text_length(dest);
    size_t added = text_length(text);
    if (used + added + 1 > capacity) fatal_stop();
    for (size_t i = 0; i < added; ++i) dest[used + i] = text[i];
    dest[used + added] = 0;
}

void text_copy(char16_t* dest, const char16_t* text, size_t capacity) {
    if (capacity == 0) fatal_stop();
    dest[0] = 0;
    text_append(dest, text, capacity);
}
