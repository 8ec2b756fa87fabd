#include "image_plan.h"

#include <cstring>

#include "little_endian.h"
#include "utf8.h"

namespace {

BuiltinPlace append_text(std::string* out, uint64_t block_size, const std::string& text) {
    std::u16string units;
    utf8_to_utf16(text, &units);
    BuiltinPlace place{block_size + out->size(), units.size()};
    for (char16_t unit : units) append_le(out, unit, 2);
    append_le(out, 0, 2);
    return place;
}

const size_t magic_size = sizeof empty_image_descriptor.magic;

}  // namespace

BuiltinData lay_out_builtin_data(uint64_t block_size, const Identity& identity) {
    BuiltinData data;
    data.block_size = block_size;
    data.after_block.assign(align_up(block_size, 8) - block_size, '\0');
    data.unpack_spec = append_text(&data.after_block, block_size, identity.unpack_spec);
    data.company = append_text(&data.after_block, block_size, identity.company);
    data.product = append_text(&data.after_block, block_size, identity.product);
    data.version = append_text(&data.after_block, block_size, identity.version);
    return data;
}

bool find_empty_descriptor(const std::string& image, uint64_t begin, uint64_t end, size_t* at, std::string* reason) {
    if (end > image.size() || begin > end) {
        *reason = "its descriptor section lies outside the file";
        return false;
    }
    for (uint64_t i = begin; i + sizeof(ImageDescriptor) <= end; i += 8) {
        if (std::memcmp(image.data() + i, empty_image_descriptor.magic, magic_size) != 0) continue;
        for (size_t j = magic_size; j < sizeof(ImageDescriptor); ++j) {
            if (image[i + j] != 0) {
                *reason = "it is a launcher already, not a stub";
                return false;
            }
        }
        *at = i;
        return true;
    }
    *reason = "its descriptor has no magic";
    return false;
}

void fill_descriptor(std::string* image, size_t at, const BuiltinData& data, uint64_t data_offset) {
    const BuiltinPlace places[] = {
        {0, data.block_size}, data.unpack_spec, data.company, data.product, data.version};
    size_t field = at + magic_size;
    for (const BuiltinPlace& place : places) {
        set_le(image, field, data_offset + place.offset, 8);
        set_le(image, field + 8, place.length, 8);
        field += sizeof(BuiltinPlace);
    }
}

void ImageChecksum::add(const char* bytes, size_t count) {
    const unsigned char* b = reinterpret_cast<const unsigned char*>(bytes);
    size_t i = 0;
    if (odd_ && count > 0) {
        sum_ += static_cast<uint64_t>(b[0]) << 8;
        i = 1;
        odd_ = false;
    }
    for (; i + 1 < count; i += 2) sum_ += static_cast<uint64_t>(b[i]) | static_cast<uint64_t>(b[i + 1]) << 8;
    if (i < count) {
        sum_ += b[i];
        odd_ = true;
    }
}

uint32_t ImageChecksum::finish(uint64_t file_size) const {
    uint64_t sum = sum_;
    while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<uint32_t>(sum + file_size);
}
