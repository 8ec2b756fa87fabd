// Builds indexed blocks for the tests: the entry stream cut into frames at
// entry boundaries, each compressed here with libzstd, and the index in front
// of them, laid out from its description in payload/block_index.h. Written
// apart from the launcher's reader so that the two check each other.
#pragma once

#include <zlib.h>
#include <zstd.h>

#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "attached_fixture.h"
#include "payload/block_index.h"

namespace fixture {

using Files = std::vector<std::pair<std::u16string, std::string>>;

// One frame whose header states its content size, as a writer that knows
// its input writes it. `window_log` 0 keeps the level's default.
inline std::string compress_sized(const std::string& content, int level = 1, int window_log = 0) {
    ZSTD_CCtx* cctx = ZSTD_createCCtx();
    ZSTD_CCtx_setParameter(cctx, ZSTD_c_compressionLevel, level);
    if (window_log != 0) ZSTD_CCtx_setParameter(cctx, ZSTD_c_windowLog, window_log);
    std::string out(ZSTD_compressBound(content.size()), '\0');
    size_t n = ZSTD_compress2(cctx, out.data(), out.size(), content.data(), content.size());
    ZSTD_freeCCtx(cctx);
    if (ZSTD_isError(n)) throw std::runtime_error("compression failed");
    out.resize(n);
    return out;
}

struct IndexedBlock {
    std::string bytes;
    size_t index_content = block_magic_size + index_frame_header_size;   // where the index's content starts
    size_t index_length = 0;                              // of that content, its checksum included
    std::vector<size_t> frame_records;                    // where each frame's record starts
    std::vector<size_t> entry_records;                    // where each entry's record starts
    std::vector<std::pair<size_t, size_t>> frames;        // each frame's offset and compressed size
    std::vector<std::string> contents;                    // each frame's content

    // After an edit of the index: its checksum made right again.
    void reseal() {
        size_t checked = index_length - index_checksum_size;
        uLong crc = crc32(0, reinterpret_cast<const Bytef*>(bytes.data() + index_content), static_cast<uInt>(checked));
        for (int i = 0; i < 4; ++i) bytes[index_content + checked + i] = static_cast<char>((crc >> (8 * i)) & 0xFF);
    }
    void put(size_t at, uint64_t value, int size) {
        for (int i = 0; i < size; ++i) bytes[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
    }
};

// `per_frame` counts the entries of each frame; the last frame also holds
// the end marker. `sized` frames state their content size; `window_log` 0
// keeps the level's default window.
inline IndexedBlock indexed_block(const Files& files, const std::vector<size_t>& per_frame, bool sized = true,
                                  int window_log = 0) {
    IndexedBlock out;
    std::vector<std::string> frames;
    std::vector<std::pair<size_t, uint64_t>> placement;   // per entry: frame, offset
    size_t next = 0;
    for (size_t f = 0; f < per_frame.size(); ++f) {
        std::string content;
        for (size_t i = 0; i < per_frame[f]; ++i, ++next) {
            placement.emplace_back(f, content.size());
            content += entry(files.at(next).first, files.at(next).second);
        }
        if (f + 1 == per_frame.size()) content += end_marker;
        out.contents.push_back(content);
        frames.push_back(sized ? compress_sized(content, 1, window_log) : compress(content, 1, window_log));
    }
    if (next != files.size()) throw std::logic_error("every file in a frame");

    size_t length = index_header_size + index_frame_record_size * frames.size() + index_checksum_size;
    for (const auto& [name, data] : files) length += index_entry_fixed_size + 2 * name.size();
    out.index_length = length;

    std::string index(reinterpret_cast<const char*>(index_magic), sizeof index_magic);
    append_le(index, index_version, 4);
    append_le(index, frames.size(), 4);
    append_le(index, files.size(), 4);
    uint64_t offset = out.index_content + length;
    for (size_t f = 0; f < frames.size(); ++f) {
        out.frame_records.push_back(out.index_content + index.size());
        append_le(index, offset, 8);
        append_le(index, frames[f].size(), 8);
        append_le(index, out.contents[f].size(), 8);
        out.frames.emplace_back(offset, frames[f].size());
        offset += frames[f].size();
    }
    for (size_t e = 0; e < files.size(); ++e) {
        out.entry_records.push_back(out.index_content + index.size());
        const auto& [name, data] = files[e];
        append_le(index, placement[e].first, 4);
        append_le(index, placement[e].second, 8);
        append_le(index, data.size(), 8);
        append_le(index, stored_checksum(data), 4);
        append_le(index, name.size(), 2);
        for (char16_t unit : name) append_le(index, unit, 2);
    }
    append_le(index, crc32(0, reinterpret_cast<const Bytef*>(index.data()), static_cast<uInt>(index.size())), 4);

    out.bytes = magic;
    append_le(out.bytes, index_frame_magic, 4);
    append_le(out.bytes, index.size(), 4);
    out.bytes += index;
    for (const std::string& frame : frames) out.bytes += frame;
    out.bytes.append(padding_bytes(out.bytes.size()), '\0');
    append_le(out.bytes, out.bytes.size(), trailer_bytes);
    return out;
}

}  // namespace fixture
