#include "resource_png.h"

#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

const unsigned char png_signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};

}  // namespace

bool is_png(const std::string& bytes) {
    return bytes.size() >= sizeof png_signature && std::memcmp(bytes.data(), png_signature, sizeof png_signature) == 0;
}

bool is_rgba8_png(const std::string& bytes) {
    // Signature, then the IHDR chunk: length, type, width, height, depth, colour type.
    if (!is_png(bytes) || bytes.size() < 26 || bytes.compare(12, 4, "IHDR") != 0) return false;
    return static_cast<unsigned char>(bytes[24]) == 8 && static_cast<unsigned char>(bytes[25]) == 6;
}

bool decode_png(const std::string& bytes, RgbaImage* image, std::string* reason) {
    png_image png;
    std::memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&png, bytes.data(), bytes.size())) {
        *reason = png.message;
        return false;
    }
    if (png.width > max_icon_side || png.height > max_icon_side) {
        png_image_free(&png);
        *reason = "larger than " + std::to_string(max_icon_side) + " pixels";
        return false;
    }
    png.format = PNG_FORMAT_RGBA;
    image->width = static_cast<int>(png.width);
    image->height = static_cast<int>(png.height);
    image->pixels.assign(PNG_IMAGE_SIZE(png), 0);
    if (!png_image_finish_read(&png, nullptr, image->pixels.data(), 0, nullptr)) {
        *reason = png.message;
        png_image_free(&png);
        return false;
    }
    return true;
}

bool encode_png(const RgbaImage& image, std::string* bytes, std::string* reason) {
    png_image png;
    std::memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    png.width = static_cast<png_uint_32>(image.width);
    png.height = static_cast<png_uint_32>(image.height);
    png.format = PNG_FORMAT_RGBA;
    png_alloc_size_t size = 0;
    if (!png_image_write_get_memory_size(png, size, 0, image.pixels.data(), 0, nullptr)) {
        *reason = png.message;
        return false;
    }
    bytes->assign(size, '\0');
    if (!png_image_write_to_memory(&png, &(*bytes)[0], &size, 0, image.pixels.data(), 0, nullptr)) {
        *reason = png.message;
        return false;
    }
    bytes->resize(size);
    return true;
}

RgbaImage scale_square(const RgbaImage& source, int size) {
    RgbaImage out;
    out.width = out.height = size;
    out.pixels.assign(static_cast<size_t>(size) * size * 4, 0);
    const double step = static_cast<double>(source.width) / size;
    for (int oy = 0; oy < size; ++oy) {
        const double y0 = oy * step, y1 = (oy + 1) * step;
        for (int ox = 0; ox < size; ++ox) {
            const double x0 = ox * step, x1 = (ox + 1) * step;
            double r = 0, g = 0, b = 0, a = 0, area = 0;
            for (int sy = static_cast<int>(y0); sy < source.height && sy < y1; ++sy) {
                const double wy = std::min(y1, sy + 1.0) - std::max(y0, static_cast<double>(sy));
                for (int sx = static_cast<int>(x0); sx < source.width && sx < x1; ++sx) {
                    const double w = wy * (std::min(x1, sx + 1.0) - std::max(x0, static_cast<double>(sx)));
                    const uint8_t* p = &source.pixels[(static_cast<size_t>(sy) * source.width + sx) * 4];
                    const double alpha = p[3] / 255.0 * w;
                    r += p[0] * alpha;
                    g += p[1] * alpha;
                    b += p[2] * alpha;
                    a += alpha;
                    area += w;
                }
            }
            uint8_t* q = &out.pixels[(static_cast<size_t>(oy) * size + ox) * 4];
            if (a <= 0 || area <= 0) continue;   // fully transparent stays (0, 0, 0, 0)
            q[0] = static_cast<uint8_t>(std::lround(std::min(255.0, r / a)));
            q[1] = static_cast<uint8_t>(std::lround(std::min(255.0, g / a)));
            q[2] = static_cast<uint8_t>(std::lround(std::min(255.0, b / a)));
            q[3] = static_cast<uint8_t>(std::lround(std::min(255.0, 255.0 * a / area)));
        }
    }
    return out;
}
