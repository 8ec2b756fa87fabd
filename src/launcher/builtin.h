// Values fixed when a launcher is linked: the packer writes them, with the
// attached data, into a small object of their own.
#pragma once

#include <cstdint>

extern "C" {
extern const unsigned char launcher_attached_data[];
extern const uint64_t launcher_attached_size;
extern const char16_t launcher_unpack_spec[];   // "{CACHE_DIR}\Quenlith\{VERSION}" by default
extern const char16_t launcher_company[];       // "Quen Lith"
extern const char16_t launcher_product[];       // "Quen Lith"
extern const char16_t launcher_version[];       // "1.0.20"
}
