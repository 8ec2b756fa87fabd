// The built-in values of a launcher linked with the packer's defaults. The
// block and the unpack spec are writable here (the launcher sees them as
// constants), so that a test can run the whole main sequence over a block
// and a spec of its own.
#include <cstdint>
#include <cstring>

#include "fake_builtin.h"

extern "C" {
unsigned char launcher_attached_data[fake_block_capacity];
uint64_t launcher_attached_size = 0;
char16_t launcher_unpack_spec[256] = u"{CACHE_DIR}\\Quenlith\\{VERSION}";
extern const char16_t launcher_company[] = u"Quen Lith";
extern const char16_t launcher_product[] = u"Quen Lith";
extern const char16_t launcher_version[] = u"1.0.20";
}

void fake_set_block(const std::string& bytes) {
    std::memcpy(launcher_attached_data, bytes.data(), bytes.size());
    launcher_attached_size = bytes.size();
}

void fake_set_unpack_spec(const std::u16string& spec) {
    std::memcpy(launcher_unpack_spec, spec.c_str(), (spec.size() + 1) * sizeof(char16_t));
}
