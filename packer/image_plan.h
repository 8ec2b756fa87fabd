// A launcher image as the writers lay it out: the stub's bytes with their
// headers changed, then the attached data, copied from its file, then the
// built-in texts. Keeping the block out of memory lets a launcher of any
// size be written in one pass.
#pragma once

#include <cstdint>
#include <string>

#include "identity.h"
#include "launcher/image_descriptor.h"

// The new data after the stub: the block at its start, then the built-in
// texts, each NUL-terminated UTF-16LE, the first on an 8-byte boundary.
struct BuiltinData {
    uint64_t block_size = 0;
    std::string after_block;   // padding, then the texts
    // From the start of the block; the writer adds where the block lies.
    BuiltinPlace unpack_spec{}, company{}, product{}, version{};
    uint64_t size() const { return block_size + after_block.size(); }
};

BuiltinData lay_out_builtin_data(uint64_t block_size, const Identity& identity);

struct ImagePlan {
    std::string head;          // everything before the block
    std::string tail;          // everything after it
    uint64_t block_size = 0;
    // A Windows image's checksum field in `head`, filled in while the image
    // is written; 0 for images that have none.
    size_t checksum_at = 0;
};

// Why a layout failed: the stub is not one to write from (the reason says
// what is wrong with "it"), or the image would outgrow its format.
enum class PlanFault { stub, too_big };

// Finds the stub's empty descriptor in bytes [begin, end) of `image`. False
// with a reason when there is none, or when it is filled in already.
bool find_empty_descriptor(const std::string& image, uint64_t begin, uint64_t end, size_t* at, std::string* reason);

// Fills in the descriptor at `at`: `data` lies at `data_offset` from the
// image base.
void fill_descriptor(std::string* image, size_t at, const BuiltinData& data, uint64_t data_offset);

// The optional header checksum of a Windows image: the one's-complement sum
// of its 16-bit words, with the checksum field counted as 0, plus its length.
class ImageChecksum {
public:
    void add(const char* bytes, size_t count);
    uint32_t finish(uint64_t file_size) const;

private:
    uint64_t sum_ = 0;
    bool odd_ = false;   // the last byte added was the low half of a word
};
