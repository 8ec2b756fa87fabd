// Values fixed when a launcher is written: the packer puts them into the
// image and records where in its descriptor (launcher/image_descriptor.h;
// launcher/identity_defaults.h holds what they are when the packer is given
// none).
#pragma once

#include <cstdint>

const unsigned char* launcher_attached_data();
uint64_t launcher_attached_size();
const char16_t* launcher_unpack_spec();
const char16_t* launcher_company();
const char16_t* launcher_product();
const char16_t* launcher_version();
