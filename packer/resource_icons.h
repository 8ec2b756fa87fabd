// The icon images a launcher carries and the group that lists them, from the
// packer's --icon inputs or the default art.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "resource_png.h"

// One image with the fields its icon-group entry lists.
struct IconImage {
    uint8_t width = 0;    // 0 stands for 256
    uint8_t height = 0;
    uint8_t colors = 0;
    uint8_t reserved = 0;
    uint16_t planes = 0;
    uint16_t bit_count = 0;
    std::string data;     // PNG file or DIB, as the icon resource stores it
};

// The sizes a launcher's icon carries when it is made from PNG pictures.
constexpr int icon_sizes[] = {16, 32, 48, 64, 128, 256};

// Reads the icon inputs: one .ico file, whose images are taken as they are,
// or PNG files and directories of PNG files, fitted to icon_sizes. False with
// one line in `error` on anything unreadable, damaged or empty.
bool load_icons(const std::vector<std::string>& inputs, std::vector<IconImage>* icons, std::string* error);

// The same for the packer's own art, a directory installed with it: its
// pictures are taken at the size their headers state, and decoded only if
// one must be scaled or written anew. Decoding each to check it costs more
// than the rest of a small launcher's build but the compression.
bool load_default_icons(const std::string& dir, std::vector<IconImage>* icons, std::string* error);

// Parses an .ico file. False with a reason if it is not a well-formed icon
// file whose images are PNG files or DIBs lying inside it.
bool parse_ico(const std::string& bytes, std::vector<IconImage>* icons, std::string* reason);

// A square PNG picture, as read, and its pixels once decoded.
struct IconPicture {
    std::string file;
    int side = 0;
    RgbaImage image;   // empty while not decoded
};

// Fits pictures to icon_sizes: for each size the first picture of exactly
// that size (its file kept as it is when already 8-bit RGBA), else the
// nearest larger one scaled down, else the largest scaled up.
bool fit_pictures(const std::vector<IconPicture>& pictures, std::vector<IconImage>* icons, std::string* error);

// The RT_GROUP_ICON resource listing `icons` under identifiers 1, 2, ...
std::string icon_group(const std::vector<IconImage>& icons);
