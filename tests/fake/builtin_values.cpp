// The built-in values of a launcher linked with the packer's defaults and an
// empty block; tests that read a block point the reader at their own.
#include "launcher/builtin.h"

extern "C" {
const unsigned char launcher_attached_data[1] = {0};
const uint64_t launcher_attached_size = 0;
const char16_t launcher_unpack_spec[] = u"{CACHE_DIR}\\Quenlith\\{VERSION}";
const char16_t launcher_company[] = u"Quen Lith";
const char16_t launcher_product[] = u"Quen Lith";
const char16_t launcher_version[] = u"1.0.20";
}
