// Values fixed when a launcher is linked: the packer writes them, with the
// attached data, into a small object of their own (launcher/identity_defaults.h
// holds what they are when the packer is given none).
#pragma once

#include <cstdint>

extern "C" {
extern const unsigned char launcher_attached_data[];
extern const uint64_t launcher_attached_size;
extern const char16_t launcher_unpack_spec[];
extern const char16_t launcher_company[];
extern const char16_t launcher_product[];
extern const char16_t launcher_version[];
}
