// Scratch directories of real files for the packer's tests, and a reader
// that takes a written block apart again with zstd's decoder.
#pragma once

#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>
#include <zstd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "index_frame.h"
#include "input_tree.h"
#include "pack.h"
#include "payload/block_format.h"
#include "payload/block_index.h"

class ScratchDir {
public:
    ScratchDir() {
        std::string pattern = "/tmp/packer-test.XXXXXX";
        path_ = mkdtemp(pattern.data());
    }
    ~ScratchDir() { std::system(("rm -rf '" + path_ + "'").c_str()); }
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& relative) const { return path_ + "/" + relative; }

    // Writes a file, creating its parent directories.
    void write(const std::string& relative, const std::string& bytes) const {
        make_parents(relative);
        std::ofstream(path_ + "/" + relative, std::ios::binary) << bytes;
    }
    void mkdir(const std::string& relative) const {
        make_parents(relative + "/x");
    }
    void link(const std::string& relative, const std::string& target) const {
        make_parents(relative);
        if (symlink(target.c_str(), (path_ + "/" + relative).c_str()) != 0) std::abort();
    }

private:
    void make_parents(const std::string& relative) const {
        for (size_t slash = relative.find('/'); slash != std::string::npos; slash = relative.find('/', slash + 1)) {
            ::mkdir((path_ + "/" + relative.substr(0, slash)).c_str(), 0755);
        }
    }
    std::string path_;
};

inline std::string pseudo_random(size_t size, unsigned seed, int alphabet = 256) {
    std::mt19937 generator(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes) c = static_cast<char>(generator() % alphabet);
    return bytes;
}

inline std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The relative names of the files a walk collected, in its order.
inline std::vector<std::string> relatives(const InputTree& tree) {
    std::vector<std::string> names;
    for (const InputFile& file : tree.files) names.push_back(file.relative);
    return names;
}

inline bool exists(const std::string& path) {
    struct stat info;
    return lstat(path.c_str(), &info) == 0;
}

// Packs `dir` into a block in memory; empty string on failure.
inline std::string pack_to_string(const std::string& dir, const std::string& main, const PackSettings& settings,
                                  std::string* error) {
    ScratchDir out;
    std::string path = out / "block.bin";
    if (!pack_directory(dir, main, settings, path, error)) return "";
    return read_file(path);
}

struct DecodedEntry {
    std::u16string name;
    uint64_t size = 0;
    uint32_t checksum = 0;
    std::string data;
};

struct DecodedBlock {
    std::string problem;                 // empty when the layout is right
    size_t frame_size = 0;
    std::vector<DecodedEntry> entries;
    std::string after_end_marker;        // bytes of the stream after the end marker
};

inline DecodedBlock failed(const char* problem) {
    DecodedBlock result;
    result.problem = problem;
    return result;
}

inline uint64_t read_le(const std::string& bytes, size_t pos, size_t count) {
    return get_le(reinterpret_cast<const unsigned char*>(bytes.data()) + pos, count);
}

// Parses an entry stream into `result` (which keeps what it already holds).
inline DecodedBlock parse_stream(const std::string& stream, DecodedBlock result) {
    size_t pos = 0;
    while (true) {
        std::u16string name;
        while (pos + name_unit_bytes <= stream.size() && read_le(stream, pos, name_unit_bytes) != 0) {
            name.push_back(static_cast<char16_t>(read_le(stream, pos, name_unit_bytes)));
            pos += name_unit_bytes;
        }
        pos += name_unit_bytes;
        if (pos > stream.size()) return failed("stream ends inside a name");
        if (name.empty()) break;
        DecodedEntry entry;
        entry.name = name;
        const size_t fields = entry_size_bytes + entry_checksum_bytes;
        if (pos + fields > stream.size()) return failed("stream ends inside a header");
        entry.size = read_le(stream, pos, entry_size_bytes);
        entry.checksum = static_cast<uint32_t>(read_le(stream, pos + entry_size_bytes, entry_checksum_bytes));
        pos += fields;
        if (pos + entry.size > stream.size()) return failed("stream ends inside data");
        entry.data = stream.substr(pos, entry.size);
        pos += entry.size;
        result.entries.push_back(entry);
    }
    result.after_end_marker = stream.substr(pos);
    return result;
}

// Checks magic, single frame, padding and trailer, and parses the stream.
inline DecodedBlock decode_block(const std::string& block) {
    DecodedBlock result;
    const std::string magic(reinterpret_cast<const char*>(block_magic), block_magic_size);
    if (block.size() < block_magic_size + trailer_bytes || block.compare(0, block_magic_size, magic) != 0)
        return failed("no magic");
    uint64_t trailer_at = block.size() - trailer_bytes;
    if (read_le(block, trailer_at, trailer_bytes) != trailer_at || trailer_at % trailer_alignment != 0)
        return failed("bad trailer");
    result.frame_size = ZSTD_findFrameCompressedSize(block.data() + block_magic_size, trailer_at - block_magic_size);
    if (ZSTD_isError(result.frame_size)) return failed("no complete frame");
    uint64_t body_size = block_magic_size + result.frame_size;
    if (trailer_offset(body_size) != trailer_at) return failed("more padding after the frame than alignment needs");
    for (size_t i = body_size; i < trailer_at; ++i) {
        if (block[i] != 0) return failed("padding is not zero");
    }

    std::string stream;
    ZSTD_DCtx* context = ZSTD_createDCtx();
    std::vector<char> out(1 << 16);
    ZSTD_inBuffer input{block.data() + block_magic_size, result.frame_size, 0};
    size_t status = 1;
    while (input.pos < input.size || status != 0) {
        ZSTD_outBuffer output{out.data(), out.size(), 0};
        status = ZSTD_decompressStream(context, &output, &input);
        if (ZSTD_isError(status)) break;
        stream.append(out.data(), output.pos);
        if (output.pos == 0 && input.pos == input.size) break;
    }
    ZSTD_freeDCtx(context);
    if (ZSTD_isError(status) || status != 0) return failed("frame does not decode");

    return parse_stream(stream, result);
}

struct DecodedIndexedBlock {
    std::string problem;                    // empty when the layout is right
    std::vector<IndexedFrame> frames;   // as the index lists them
    std::vector<IndexedEntry> index;
    std::vector<std::string> contents;      // each frame decoded on its own
    DecodedBlock stream;                    // the contents, one after another
};

inline DecodedIndexedBlock indexed_failure(const std::string& problem) {
    DecodedIndexedBlock result;
    result.problem = problem;
    return result;
}

// Takes an indexed block apart without trusting the index: checks magic,
// the skippable frame and its checksum, frames that follow it without gaps
// and each decode alone to the content size listed, zero padding and
// trailer; then parses the contents as one entry stream.
inline DecodedIndexedBlock decode_indexed_block(const std::string& block) {
    DecodedIndexedBlock result;
    const std::string magic(reinterpret_cast<const char*>(block_magic), block_magic_size);
    const size_t index_start = block_magic_size + index_frame_header_size;
    if (block.size() < index_start + trailer_bytes || block.compare(0, block_magic_size, magic) != 0) {
        return indexed_failure("no magic");
    }
    uint64_t trailer_at = block.size() - trailer_bytes;
    if (read_le(block, trailer_at, trailer_bytes) != trailer_at || trailer_at % trailer_alignment != 0) {
        return indexed_failure("bad trailer");
    }
    if (read_le(block, block_magic_size, 4) != index_frame_magic) {
        return indexed_failure("no skippable frame after the magic");
    }
    uint64_t length = read_le(block, block_magic_size + 4, 4);
    if (index_start + length > trailer_at || length < index_header_size + index_checksum_size) {
        return indexed_failure("index length");
    }
    std::string index = block.substr(index_start, length);
    uint32_t crc = static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(index.data()), length - 4));
    if (read_le(index, length - 4, 4) != crc) return indexed_failure("index checksum");
    const std::string expected_magic(reinterpret_cast<const char*>(index_magic), sizeof index_magic);
    if (index.compare(0, 4, expected_magic) != 0 || read_le(index, 4, 4) != index_version) {
        return indexed_failure("index magic or version");
    }
    uint64_t frame_count = read_le(index, 8, 4);
    uint64_t entry_count = read_le(index, 12, 4);
    size_t pos = 16;
    for (uint64_t f = 0; f < frame_count; ++f, pos += 24) {
        if (pos + 24 > length - 4) return indexed_failure("index ends inside the frames");
        result.frames.push_back({read_le(index, pos, 8), read_le(index, pos + 8, 8), read_le(index, pos + 16, 8)});
    }
    for (uint64_t e = 0; e < entry_count; ++e) {
        if (pos + 26 > length - 4) return indexed_failure("index ends inside an entry");
        IndexedEntry entry;
        entry.frame = static_cast<uint32_t>(read_le(index, pos, 4));
        entry.offset = read_le(index, pos + 4, 8);
        entry.size = read_le(index, pos + 12, 8);
        entry.checksum = static_cast<uint32_t>(read_le(index, pos + 20, 4));
        uint64_t units = read_le(index, pos + 24, 2);
        pos += 26;
        if (pos + 2 * units > length - 4) return indexed_failure("index ends inside a name");
        for (uint64_t u = 0; u < units; ++u, pos += 2) entry.name.push_back(static_cast<char16_t>(read_le(index, pos, 2)));
        result.index.push_back(entry);
    }
    if (pos != length - 4) return indexed_failure("bytes between the last entry and the checksum");

    uint64_t expected_offset = index_start + length;
    std::string stream;
    for (const IndexedFrame& frame : result.frames) {
        if (frame.block_offset != expected_offset) return indexed_failure("a frame does not follow the one before");
        size_t size = ZSTD_findFrameCompressedSize(block.data() + frame.block_offset, trailer_at - frame.block_offset);
        if (ZSTD_isError(size) || size != frame.compressed_size) return indexed_failure("compressed size");
        if (ZSTD_getFrameContentSize(block.data() + frame.block_offset, size) != frame.content_size) {
            return indexed_failure("the frame header does not carry the content size listed");
        }
        std::string content(frame.content_size, '\0');
        size_t got = ZSTD_decompress(content.data(), content.size(), block.data() + frame.block_offset, size);
        if (ZSTD_isError(got) || got != frame.content_size) return indexed_failure("a frame does not decode alone");
        result.contents.push_back(content);
        stream += content;
        expected_offset += size;
    }
    if (trailer_offset(expected_offset) != trailer_at) return indexed_failure("more padding than alignment needs");
    for (size_t i = expected_offset; i < trailer_at; ++i) {
        if (block[i] != 0) return indexed_failure("padding is not zero");
    }
    result.stream = parse_stream(stream, DecodedBlock());
    return result;
}
