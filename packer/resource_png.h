// Icon pictures as plain RGBA pixels: reading and writing PNG files and
// fitting a picture to an icon size.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct RgbaImage {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> pixels;   // rows top to bottom, 4 bytes per pixel, straight (not premultiplied) alpha
};

// The largest side accepted, so a hostile file cannot make the packer
// allocate gigabytes for one icon.
constexpr int max_icon_side = 4096;

bool is_png(const std::string& bytes);

// True if the PNG's header says 8 bits per channel, RGBA, so the file can be
// stored in an icon as it is.
bool is_rgba8_png(const std::string& bytes);

// Decodes any PNG (every colour type and depth) to 8-bit RGBA. False with a
// short reason on a damaged file or one larger than max_icon_side.
bool decode_png(const std::string& bytes, RgbaImage* image, std::string* reason);

// The size a PNG's header states, with the same checks decode_png makes of
// it, without decoding the pixels.
bool png_size(const std::string& bytes, int* width, int* height, std::string* reason);

bool encode_png(const RgbaImage& image, std::string* bytes, std::string* reason);

// Resamples a square picture to `size` x `size` by area averaging over
// premultiplied colour, so transparent pixels do not darken the edges. Into
// `out`, whose memory serves again for the next size.
void scale_square(const RgbaImage& source, int size, RgbaImage* out);
