#include "paths/expand_spec.h"

void random_bytes(uint32_t seed, unsigned char out[8]) {
    // A zero state would stay zero for ever.
    uint32_t s = seed != 0 ? seed : 1;
    for (int i = 0; i < 8; ++i) {
        s ^= s << 13;
        s ^= s >> 17;
        s ^= s << 5;
        out[i] = static_cast<unsigned char>(s & 0xFF);
    }
}

void encode_random_text(const unsigned char bytes[8], char out[12]) {
    // The URL- and file-name-safe alphabet: the text ends up in a path.
    static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    int used = 0;
    uint32_t bits = 0;
    int bit_count = 0;
    for (int i = 0; i < 8; ++i) {
        bits = (bits << 8) | bytes[i];
        bit_count += 8;
        while (bit_count >= 6) {
            bit_count -= 6;
            out[used++] = alphabet[(bits >> bit_count) & 0x3F];
        }
    }
    // 64 bits leave 4 over: they lead the last character, padded with zeros.
    out[used++] = alphabet[(bits << (6 - bit_count)) & 0x3F];
    out[used] = 0;
}
