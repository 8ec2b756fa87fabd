// Reading icon pictures: a PNG whose chunks lie about their lengths, or whose
// data cannot fill the size it states, is refused before any memory is made
// for it, and no sound file is refused by those checks.
#include <gtest/gtest.h>
#include <zlib.h>

#include <string>

#include "resource_png.h"

namespace {

std::string be32(uint32_t value) {
    return {static_cast<char>(value >> 24), static_cast<char>(value >> 16), static_cast<char>(value >> 8),
            static_cast<char>(value)};
}

std::string chunk(const std::string& type, const std::string& data) {
    const std::string body = type + data;
    const uint32_t crc = crc32(0, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size()));
    return be32(static_cast<uint32_t>(data.size())) + body + be32(crc);
}

std::string deflated(const std::string& raw) {
    uLongf size = compressBound(raw.size());
    std::string out(size, '\0');
    compress2(reinterpret_cast<Bytef*>(&out[0]), &size, reinterpret_cast<const Bytef*>(raw.data()), raw.size(), 9);
    out.resize(size);
    return out;
}

const std::string signature = "\x89PNG\r\n\x1a\n";

std::string header(uint32_t side) { return chunk("IHDR", be32(side) + be32(side) + std::string("\x08\x06\0\0\0", 5)); }

// An RGBA picture of one colour: each row a filter byte, then its pixels.
std::string picture(uint32_t side, char value) {
    std::string row(1 + 4 * side, value);
    row[0] = 0;
    std::string raw;
    for (uint32_t y = 0; y < side; ++y) raw += row;
    return signature + header(side) + chunk("IDAT", deflated(raw)) + chunk("IEND", "");
}

TEST(Png, DamagedChunksAreRefusedBeforeDecoding) {
    const std::string sound = picture(16, 7);
    const size_t idat = sound.find("IDAT") - 4;
    std::string long_idat = sound;
    long_idat.replace(idat, 4, be32(0x40000000));   // 1 GiB stated, a few bytes there
    std::string long_iend = sound;
    long_iend.replace(sound.size() - 12, 4, be32(1000));
    const struct {
        const char* what;
        std::string bytes;
        const char* refusal;   // null: decoded
    } cases[] = {
        {"sound", sound, nullptr},
        {"an image data chunk past the end", long_idat, "IDAT chunk runs past the end"},
        {"cut inside the image data", sound.substr(0, idat + 20), "IDAT chunk runs past the end"},
        {"cut before a chunk's length", sound.substr(0, idat + 2), "ends inside a chunk"},
        // The reader never looks at the last chunk's length.
        {"a last chunk whose length is wrong", long_iend, nullptr},
        // 64 MiB of pixels from a few bytes of data, which no deflate stream can give.
        {"4096 pixels a side in 30 bytes", signature + header(4096) + chunk("IDAT", deflated(std::string(30, 1))) +
                                               chunk("IEND", ""),
         "too short for its size"},
    };
    for (const auto& c : cases) {
        RgbaImage image;
        std::string reason;
        const bool decoded = decode_png(c.bytes, &image, &reason);
        if (c.refusal == nullptr) {
            EXPECT_TRUE(decoded) << c.what << ": " << reason;
            EXPECT_EQ(image.width, 16) << c.what;
        } else {
            EXPECT_FALSE(decoded) << c.what;
            EXPECT_NE(reason.find(c.refusal), std::string::npos) << c.what << ": " << reason;
        }
    }
}

// Zeros compress about as far as deflate allows (1032 to 1); the largest
// picture accepted, all zeros, is still read.
TEST(Png, TheMostCompressedLargestPictureIsRead) {
    const std::string png = picture(max_icon_side, 0);
    ASSERT_LT(png.size(), 80u * 1024);
    RgbaImage image;
    std::string reason;
    ASSERT_TRUE(decode_png(png, &image, &reason)) << reason;
    EXPECT_EQ(image.width, max_icon_side);
    int width = 0, height = 0;
    EXPECT_TRUE(png_size(png, &width, &height, &reason));
    EXPECT_EQ(height, max_icon_side);
}

}  // namespace
