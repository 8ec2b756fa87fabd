// The image of a launcher written with the packer's defaults, laid out as
// the packer lays it out: the descriptor points at the texts and the block.
// Here the block and the unpack spec can be changed, so that a test can run
// the whole main sequence over a block and a spec of its own.
#include <cstdint>
#include <cstring>

#include "fake_builtin.h"
#include "launcher/identity_defaults.h"
#include "launcher/image_descriptor.h"
#include "platform/platform.h"

namespace {

constexpr size_t text_capacity = 256;   // units, NUL included
constexpr size_t spec_at = 64, company_at = spec_at + 2 * text_capacity, product_at = company_at + 2 * text_capacity,
                 version_at = product_at + 2 * text_capacity, block_at = 4096;

alignas(4096) unsigned char fake_image[block_at + fake_block_capacity];
ImageDescriptor fake_descriptor = empty_image_descriptor;

BuiltinPlace put_text(size_t at, const std::u16string& text) {
    std::memcpy(fake_image + at, text.c_str(), (text.size() + 1) * sizeof(char16_t));
    return {at, text.size()};
}

// The defaults are ASCII: each byte is one UTF-16 unit.
BuiltinPlace put_default(size_t at, const char* text) {
    std::u16string units;
    while (*text != 0) units.push_back(static_cast<unsigned char>(*text++));
    return put_text(at, units);
}

// The defaults, in place before any test runs.
const bool defaults_set = [] {
    fake_descriptor.unpack_spec = put_default(spec_at, default_unpack_spec);
    fake_descriptor.company = put_default(company_at, default_company);
    fake_descriptor.product = put_default(product_at, default_product);
    fake_descriptor.version = put_default(version_at, default_version);
    fake_descriptor.attached_data = {block_at, 0};
    return true;
}();

}  // namespace

const unsigned char* os_image_base() { return fake_image; }
const ImageDescriptor* os_image_descriptor() { return &fake_descriptor; }

void fake_set_block(const std::string& bytes) {
    std::memcpy(fake_image + block_at, bytes.data(), bytes.size());
    fake_descriptor.attached_data = {block_at, bytes.size()};
}

void fake_set_unpack_spec(const std::u16string& spec) { fake_descriptor.unpack_spec = put_text(spec_at, spec); }
