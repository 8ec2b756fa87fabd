// Values fixed when a launcher is written: the packer puts them into the
// image and records where in its descriptor (launcher/image_descriptor.h).
#pragma once

#include <cstdint>

const unsigned char* launcher_attached_data();
uint64_t launcher_attached_size();
const char16_t* launcher_unpack_spec();   // "{CACHE_DIR}\Quenlith\{VERSION}" by default
const char16_t* launcher_company();       // "Quen Lith"
const char16_t* launcher_product();       // "Quen Lith"
const char16_t* launcher_version();       // "1.0.20"
