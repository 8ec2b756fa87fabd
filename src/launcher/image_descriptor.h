// The descriptor through which a launcher finds what it carries. The build
// links every launcher once per system with this descriptor empty (a stub);
// the packer writes a launcher by copying a stub, adding the attached data
// and the built-in texts in data of their own, and filling the descriptor in.
// The packer finds the descriptor by its section's name and refuses any image
// whose descriptor does not begin with the magic.
#pragma once

#include <cstdint>

// The section, in the image and in the file, that holds the descriptor.
inline constexpr char image_descriptor_section[] = ".zembra";

// One built-in value: where it starts, counted from the address at which the
// image's first byte is mapped, and how long it is. Texts are UTF-16 with a
// NUL after `length` units. An offset of 0 means not filled in.
struct BuiltinPlace {
    uint64_t offset;
    uint64_t length;   // bytes for the attached data, UTF-16 units for a text
};

struct ImageDescriptor {
    unsigned char magic[16];
    BuiltinPlace attached_data;
    BuiltinPlace unpack_spec;
    BuiltinPlace company;
    BuiltinPlace product;
    BuiltinPlace version;
};

// What a stub carries: the magic and nothing filled in.
inline constexpr ImageDescriptor empty_image_descriptor = {
    {'z', 'e', 'm', 'b', 'r', 'a', ' ', 'l', 'a', 'u', 'n', 'c', 'h', 'e', 'r', 1}, {}, {}, {}, {}, {}};

// The file layout the packer relies on: little-endian fields at these offsets.
static_assert(sizeof(BuiltinPlace) == 16 && sizeof(ImageDescriptor) == 16 + 5 * 16);
