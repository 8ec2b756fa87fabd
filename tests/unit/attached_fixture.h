// Builds attached data for the reader and unpacking tests: entry streams,
// zstd frames written here with libzstd, and the block around a frame. It
// shares the format's constants with the reader but none of its code, so
// that the two check each other.
#pragma once

#include <zlib.h>
#include <zstd.h>

#include <cstdint>
#include <stdexcept>
#include <string>

#include "payload/attached.h"
#include "payload/block_format.h"

namespace fixture {

inline void append_le(std::string& out, uint64_t value, size_t bytes) {
    unsigned char field[8];
    put_le(field, value, bytes);
    out.append(reinterpret_cast<const char*>(field), bytes);
}

inline uint32_t crc_of(const std::string& data) {
    return static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}

// What a writer stores for `data`.
inline uint32_t stored_checksum(const std::string& data) { return ::stored_checksum(crc_of(data)); }

inline std::string name_bytes(const std::u16string& name) {
    std::string out;
    for (char16_t unit : name) append_le(out, unit, name_unit_bytes);
    append_le(out, 0, name_unit_bytes);
    return out;
}

inline std::string entry(const std::u16string& name, const std::string& data, uint32_t stored) {
    std::string out = name_bytes(name);
    append_le(out, data.size(), entry_size_bytes);
    append_le(out, stored, entry_checksum_bytes);
    return out + data;
}

inline std::string entry(const std::u16string& name, const std::string& data) {
    return entry(name, data, stored_checksum(data));
}

inline const std::string end_marker(end_marker_bytes, '\0');
inline const std::string magic(reinterpret_cast<const char*>(block_magic), block_magic_size);

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

// Magic, frame, padding (zero unless told otherwise) and the trailer.
inline std::string block(const std::string& frame, char padding = '\0') {
    std::string out = magic + frame;
    out.append(padding_bytes(out.size()), padding);
    append_le(out, out.size(), trailer_bytes);
    return out;
}

// Points the reader at `bytes`, which must outlive the reading.
inline void attach(const std::string& bytes) {
    launcher.attached_cursor = reinterpret_cast<const unsigned char*>(bytes.data());
    launcher.attached_remaining = bytes.size();
}

}  // namespace fixture
