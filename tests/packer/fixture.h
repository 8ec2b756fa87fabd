// Scratch directories of real files for the packer's tests, and a reader
// that takes a written block apart again with zstd's decoder.
#pragma once

#include <sys/stat.h>
#include <unistd.h>
#include <zstd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "payload/block_format.h"

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

inline std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline bool exists(const std::string& path) {
    struct stat info;
    return lstat(path.c_str(), &info) == 0;
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
