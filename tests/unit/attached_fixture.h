// Builds attached data for the reader and unpacking tests: entry streams,
// zstd frames written here with libzstd, and the block around a frame. It is
// written independently of the reader so that the two check each other.
#pragma once

#include <zlib.h>
#include <zstd.h>

#include <cstdint>
#include <stdexcept>
#include <string>

#include "payload/attached.h"

namespace fixture {

inline void put_le(std::string& out, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

inline uint32_t crc_of(const std::string& data) {
    return static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}

// What a writer stores: the CRC-32, with 1 in place of 0.
inline uint32_t stored_checksum(const std::string& data) {
    uint32_t crc = crc_of(data);
    return crc == 0 ? 1 : crc;
}

inline std::string name_bytes(const std::u16string& name) {
    std::string out;
    for (char16_t unit : name) put_le(out, unit, 2);
    put_le(out, 0, 2);
    return out;
}

inline std::string entry(const std::u16string& name, const std::string& data, uint32_t stored) {
    std::string out = name_bytes(name);
    put_le(out, data.size(), 8);
    put_le(out, stored, 4);
    return out + data;
}

inline std::string entry(const std::u16string& name, const std::string& data) {
    return entry(name, data, stored_checksum(data));
}

inline const std::string end_marker(2, '\0');

// Deterministic bytes that compress somewhat, like a real program's.
inline std::string sample_bytes(size_t size, uint32_t seed) {
    static const char words[][8] = {"alpha", "beta", "gamma", "delta", "\x01\x02\x03", "\xff\xfe", "zeta", "\n"};
    std::string out;
    uint32_t state = seed * 2654435761u + 1;
    while (out.size() < size) {
        state = state * 1103515245u + 12345u;
        if ((state >> 28) < 5)
            out += words[(state >> 16) % 8];
        else
            out.push_back(static_cast<char>(state >> 13));
    }
    out.resize(size);
    return out;
}

// One frame whose header carries no content size, as a writer streaming its
// input produces. `window_log` 0 keeps the level's default.
inline std::string compress(const std::string& content, int level = 1, int window_log = 0) {
    ZSTD_CCtx* cctx = ZSTD_createCCtx();
    ZSTD_CCtx_setParameter(cctx, ZSTD_c_compressionLevel, level);
    if (window_log != 0) ZSTD_CCtx_setParameter(cctx, ZSTD_c_windowLog, window_log);
    std::string out(ZSTD_compressBound(content.size()) + 1024, '\0');
    ZSTD_outBuffer output{out.data(), out.size(), 0};
    ZSTD_inBuffer input{content.data(), content.size(), 0};
    // Continuing first leaves the size unknown when the frame header is written.
    while (input.pos < input.size) {
        if (ZSTD_isError(ZSTD_compressStream2(cctx, &output, &input, ZSTD_e_continue)))
            throw std::runtime_error("compression failed");
    }
    ZSTD_inBuffer none{nullptr, 0, 0};
    size_t left;
    do {
        left = ZSTD_compressStream2(cctx, &output, &none, ZSTD_e_end);
        if (ZSTD_isError(left)) throw std::runtime_error("compression failed");
    } while (left != 0);
    ZSTD_freeCCtx(cctx);
    out.resize(output.pos);
    return out;
}

// Magic, frame, zero padding to a multiple of 8, and the trailer.
inline std::string block(const std::string& frame, char padding = '\0') {
    std::string out = "QVR" + frame;
    while (out.size() % 8 != 0) out.push_back(padding);
    put_le(out, out.size(), 8);
    return out;
}

// Points the reader at `bytes`, which must outlive the reading.
inline void attach(const std::string& bytes) {
    launcher.attached_cursor = reinterpret_cast<const unsigned char*>(bytes.data());
    launcher.attached_remaining = bytes.size();
}

}  // namespace fixture
