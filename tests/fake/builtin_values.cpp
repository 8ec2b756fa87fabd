// The built-in values of a launcher linked with the packer's defaults. The
// block and the unpack spec are writable here (the launcher sees them as
// constants), so that a test can run the whole main sequence over a block
// and a spec of its own.
#include <cstdint>
#include <cstring>

#include "fake_builtin.h"
#include "launcher/identity_defaults.h"

extern "C" {
unsigned char launcher_attached_data[fake_block_capacity];
uint64_t launcher_attached_size = 0;
char16_t launcher_unpack_spec[256];
char16_t launcher_company[sizeof default_company];
char16_t launcher_product[sizeof default_product];
char16_t launcher_version[sizeof default_version];
}

namespace {

// The defaults are ASCII: each byte is one UTF-16 unit.
void widen(char16_t* out, const char* text) {
    while ((*out++ = static_cast<unsigned char>(*text++)) != 0) {
    }
}

// In place before any test runs, as the packer would have linked them.
const bool defaults_in_place = [] {
    widen(launcher_unpack_spec, default_unpack_spec);
    widen(launcher_company, default_company);
    widen(launcher_product, default_product);
    widen(launcher_version, default_version);
    return true;
}();

}  // namespace

void fake_set_block(const std::string& bytes) {
    std::memcpy(launcher_attached_data, bytes.data(), bytes.size());
    launcher_attached_size = bytes.size();
}

void fake_set_unpack_spec(const std::u16string& spec) {
    std::memcpy(launcher_unpack_spec, spec.c_str(), (spec.size() + 1) * sizeof(char16_t));
}
