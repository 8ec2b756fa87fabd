#include "resource_png.h"

// stb's PNG reader and writer, compiled here on every host: the writer's own
// deflate (not the system's zlib, whose version differs between hosts) makes
// the packer's icons the same bytes wherever it runs.
#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_STATIC
#define STBI_ONLY_PNG
#define STBI_NO_STDIO
#define STBI_NO_LINEAR
#define STBI_NO_HDR
#define STBI_FAILURE_USERMSG
#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STB_IMAGE_WRITE_STATIC
#define STBI_WRITE_NO_STDIO
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wunused-but-set-variable"
#pragma GCC diagnostic ignored "-Wimplicit-fallthrough"
#include <stb_image.h>
#include <stb_image_write.h>
#pragma GCC diagnostic pop

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "utf8.h"

namespace {

const unsigned char png_signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};

uint32_t be32(const std::string& bytes, size_t at) {
    uint32_t value = 0;
    for (size_t i = 0; i < 4; ++i) value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
    return value;
}

// Deflate turns one byte into at most 1032 (a 258-byte match in two bits).
const uint64_t most_inflated_per_byte = 1032;

// What stb's reader cannot be trusted to find before it allocates: a chunk
// whose length runs past the end of the file (it makes room for an image
// data chunk at its stated length, up to 2 GiB, before it reads a byte), and
// image data too short for the stated size, ever (it makes room for the
// whole image first). The reader refuses both files in the end; refused
// here, they cost nothing. The last chunk's length is not looked at, as the
// reader does not look at it either.
bool chunks_are_whole(const std::string& bytes, std::string* reason) {
    uint64_t image_data = 0, pixel_bits = 0;
    for (size_t at = sizeof png_signature;; ) {
        if (bytes.size() - at < 8) {
            *reason = "it ends inside a chunk";
            return false;
        }
        const uint32_t length = be32(bytes, at);
        const std::string type = bytes.substr(at + 4, 4);
        if (type == "IEND") break;
        if (bytes.size() - at < 12 || length > bytes.size() - at - 12) {
            *reason = "its " + printable(type) + " chunk runs past the end of the file";
            return false;
        }
        if (type == "IHDR" && length == 13) {
            const uint64_t width = be32(bytes, at + 8), height = be32(bytes, at + 12);
            const unsigned depth = static_cast<unsigned char>(bytes[at + 16]);
            const unsigned colour = static_cast<unsigned char>(bytes[at + 17]);
            const unsigned channels = colour == 2 ? 3 : colour == 4 ? 2 : colour == 6 ? 4 : 1;
            // Sizes past 2^24 the reader refuses on its own.
            if (width <= 1u << 24 && height <= 1u << 24) pixel_bits = width * height * depth * channels;
        }
        if (type == "IDAT") image_data += length;
        at += 12 + static_cast<size_t>(length);
    }
    // Every row has its pixels, whether interlaced or not; the filter bytes
    // are left out of the count, so no sound file is refused.
    if ((pixel_bits + 7) / 8 > most_inflated_per_byte * (image_data + 1)) {
        *reason = "its image data is too short for its size";
        return false;
    }
    return true;
}

}  // namespace

bool is_png(const std::string& bytes) {
    return bytes.size() >= sizeof png_signature && std::memcmp(bytes.data(), png_signature, sizeof png_signature) == 0;
}

bool is_rgba8_png(const std::string& bytes) {
    // Signature, then the IHDR chunk: length, type, width, height, depth, colour type.
    if (!is_png(bytes) || bytes.size() < 26 || bytes.compare(12, 4, "IHDR") != 0) return false;
    return static_cast<unsigned char>(bytes[24]) == 8 && static_cast<unsigned char>(bytes[25]) == 6;
}

bool png_size(const std::string& bytes, int* width, int* height, std::string* reason) {
    if (bytes.size() > INT_MAX) {
        *reason = "the file is too large";
        return false;
    }
    if (is_png(bytes) && !chunks_are_whole(bytes, reason)) return false;
    int channels = 0;
    if (!stbi_info_from_memory(reinterpret_cast<const stbi_uc*>(bytes.data()), static_cast<int>(bytes.size()), width,
                               height, &channels)) {
        *reason = stbi_failure_reason();
        return false;
    }
    if (*width > max_icon_side || *height > max_icon_side) {
        *reason = "larger than " + std::to_string(max_icon_side) + " pixels";
        return false;
    }
    return true;
}

bool decode_png(const std::string& bytes, RgbaImage* image, std::string* reason) {
    int width = 0, height = 0, channels = 0;
    if (!png_size(bytes, &width, &height, reason)) return false;
    const auto* data = reinterpret_cast<const stbi_uc*>(bytes.data());
    const int length = static_cast<int>(bytes.size());
    stbi_uc* pixels = stbi_load_from_memory(data, length, &width, &height, &channels, 4);
    if (pixels == nullptr) {
        *reason = stbi_failure_reason();
        return false;
    }
    image->width = width;
    image->height = height;
    image->pixels.assign(pixels, pixels + static_cast<size_t>(width) * height * 4);
    stbi_image_free(pixels);
    return true;
}

bool encode_png(const RgbaImage& image, std::string* bytes, std::string* reason) {
    int length = 0;
    unsigned char* png =
        stbi_write_png_to_mem(image.pixels.data(), image.width * 4, image.width, image.height, 4, &length);
    if (png == nullptr) {
        *reason = "out of memory";
        return false;
    }
    bytes->assign(reinterpret_cast<const char*>(png), static_cast<size_t>(length));
    STBIW_FREE(png);
    return true;
}

void scale_square(const RgbaImage& source, int size, RgbaImage* into) {
    RgbaImage& out = *into;
    out.width = out.height = size;
    // Every pixel is written below: growing the buffer clears only what it adds.
    out.pixels.resize(static_cast<size_t>(size) * size * 4);
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
            if (a <= 0 || area <= 0) {   // fully transparent is (0, 0, 0, 0)
                std::memset(q, 0, 4);
                continue;
            }
            q[0] = static_cast<uint8_t>(std::lround(std::min(255.0, r / a)));
            q[1] = static_cast<uint8_t>(std::lround(std::min(255.0, g / a)));
            q[2] = static_cast<uint8_t>(std::lround(std::min(255.0, b / a)));
            q[3] = static_cast<uint8_t>(std::lround(std::min(255.0, 255.0 * a / area)));
        }
    }
}
