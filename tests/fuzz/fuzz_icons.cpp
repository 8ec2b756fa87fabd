// Any bytes as the packer's --icon input, named .ico or .png: load_icons
// refuses them with one line naming the file, or accepts them, and then
// what it would write must be sound.
//   - An .ico: the images are exactly the bytes its directory points at,
//     each entry's fields as written, each image a PNG or a bitmap; an .ico
//     written here from the images parses back to the same images.
//   - A PNG: one image for each icon size, each a whole PNG of exactly that
//     size.
//   - Either way the icon group resource lists every image, with its fields,
//     its size in bytes and identifiers 1, 2, ...
//
// Input: a byte whose bit 0 names the file .ico (else .png), then the file.
#include <unistd.h>
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "resource_icons.h"
#include "resource_png.h"

namespace {

// FUZZ_SHOW=1 prints each input's ending, to see what the seeds reach.
const bool show = std::getenv("FUZZ_SHOW") != nullptr;

void check(bool ok, const char* what) {
    if (ok) return;
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

uint32_t le(const std::string& bytes, size_t at, int size) {
    uint32_t value = 0;
    for (int i = size - 1; i >= 0; --i) value = value << 8 | static_cast<uint8_t>(bytes[at + i]);
    return value;
}

void put_le(std::string* out, uint32_t value, int size) {
    for (int i = 0; i < size; ++i) out->push_back(static_cast<char>(value >> (8 * i) & 0xFF));
}

// A folder of this process's own for the input file, removed at exit; the
// name is never destroyed, so the exit handler can still read it.
const std::string& work_dir() {
    static const std::string* const dir = [] {
        // In memory where there is such a file system: a file is written
        // and read for every input.
        char name[] = "/dev/shm/fuzz_icons.XXXXXX";
        char fallback[] = "/tmp/fuzz_icons.XXXXXX";
        const char* made = mkdtemp(name);
        if (made == nullptr) made = mkdtemp(fallback);
        if (made == nullptr) std::abort();
        std::atexit([] { std::system(("rm -rf " + work_dir()).c_str()); });
        return new std::string(made);
    }();
    return *dir;
}

bool write_file(const std::string& path, const uint8_t* data, size_t size) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    bool ok = std::fwrite(data, 1, size, file) == size;
    return std::fclose(file) == 0 && ok;
}

std::string ico_of(const std::vector<IconImage>& icons) {
    std::string out;
    put_le(&out, 0, 2);
    put_le(&out, 1, 2);
    put_le(&out, static_cast<uint32_t>(icons.size()), 2);
    uint32_t offset = static_cast<uint32_t>(6 + 16 * icons.size());
    for (const IconImage& icon : icons) {
        out += static_cast<char>(icon.width);
        out += static_cast<char>(icon.height);
        out += static_cast<char>(icon.colors);
        out += static_cast<char>(icon.reserved);
        put_le(&out, icon.planes, 2);
        put_le(&out, icon.bit_count, 2);
        put_le(&out, static_cast<uint32_t>(icon.data.size()), 4);
        put_le(&out, offset, 4);
        offset += static_cast<uint32_t>(icon.data.size());
    }
    for (const IconImage& icon : icons) out += icon.data;
    return out;
}

bool same(const IconImage& a, const IconImage& b) {
    return a.width == b.width && a.height == b.height && a.colors == b.colors && a.reserved == b.reserved &&
           a.planes == b.planes && a.bit_count == b.bit_count && a.data == b.data;
}

bool png_or_bitmap(const std::string& data) {
    if (is_png(data)) return true;
    if (data.size() < 40) return false;
    uint32_t header = le(data, 0, 4);
    return header == 40 || header == 108 || header == 124;
}

// The .ico's images against its directory, read here on their own terms.
void check_ico(const std::string& file, const std::vector<IconImage>& icons) {
    check(file.size() >= 6 && le(file, 0, 2) == 0 && le(file, 2, 2) == 1, "an .ico without its header accepted");
    const size_t count = le(file, 4, 2);
    check(count > 0 && icons.size() == count, "not one image for each directory entry");
    const size_t directory_end = 6 + 16 * count;
    check(directory_end <= file.size(), "an .ico with a cut directory accepted");
    for (size_t i = 0; i < count; ++i) {
        const size_t at = 6 + 16 * i;
        const size_t size = le(file, at + 8, 4), offset = le(file, at + 12, 4);
        check(size > 0 && offset >= directory_end && offset <= file.size() && size <= file.size() - offset,
              "an image outside the file accepted");
        const IconImage& icon = icons[i];
        check(icon.data == file.substr(offset, size), "an image's bytes are not those its entry points at");
        check(icon.width == static_cast<uint8_t>(file[at]) && icon.height == static_cast<uint8_t>(file[at + 1]) &&
                  icon.colors == static_cast<uint8_t>(file[at + 2]) &&
                  icon.reserved == static_cast<uint8_t>(file[at + 3]) && icon.planes == le(file, at + 4, 2) &&
                  icon.bit_count == le(file, at + 6, 2),
              "an image's fields are not those of its entry");
        check(png_or_bitmap(icon.data), "an image that is neither a PNG nor a bitmap accepted");
    }
    std::vector<IconImage> again;
    std::string reason;
    check(parse_ico(ico_of(icons), &again, &reason), "the images, written as an .ico, refused");
    check(again.size() == icons.size(), "the images, written as an .ico, read back as others");
    for (size_t i = 0; i < icons.size(); ++i) check(same(again[i], icons[i]), "an image read back changed");
}

uint32_t be32(const std::string& bytes, size_t at) {
    uint32_t value = 0;
    for (size_t i = 0; i < 4; ++i) value = value << 8 | static_cast<uint8_t>(bytes[at + i]);
    return value;
}

// A fitted image is a whole PNG file of 8-bit RGBA pixels, `size` on each
// side: every chunk inside the file with its CRC, and image data that
// inflates to exactly one filter byte (0 to 4) and `size` pixels per row.
// Read here with zlib rather than with the packer's PNG reader: the reader
// is traced for coverage, and tracing it over the packer's own output, six
// images an input, tells the fuzzer nothing and cost a quarter of the time.
bool whole_rgba_png(const std::string& png, int size) {
    static const char signature[] = "\x89PNG\r\n\x1a\n";
    if (png.size() < 8 || png.compare(0, 8, signature, 8) != 0) return false;
    std::string data;
    bool header = false;
    for (size_t at = 8;;) {
        if (png.size() - at < 12) return false;
        const size_t length = be32(png, at);
        if (length > png.size() - at - 12) return false;
        const std::string type = png.substr(at + 4, 4);
        const auto* chunk = reinterpret_cast<const Bytef*>(png.data() + at + 4);
        if (crc32(0, chunk, static_cast<uInt>(length + 4)) != be32(png, at + 8 + length)) return false;
        if (type == "IHDR") {
            header = length == 13 && be32(png, at + 8) == static_cast<uint32_t>(size) &&
                     be32(png, at + 12) == static_cast<uint32_t>(size) && png.compare(at + 16, 5, "\x08\x06\0\0\0", 5) == 0;
        }
        if (type == "IDAT") data.append(png, at + 8, length);
        at += 12 + length;
        if (type == "IEND") break;
    }
    const size_t row = 1 + 4 * static_cast<size_t>(size);
    std::string pixels(row * size + 1, '\0');   // one byte more: longer data is seen
    uLongf inflated = pixels.size();
    const int status = uncompress(reinterpret_cast<Bytef*>(&pixels[0]), &inflated,
                                  reinterpret_cast<const Bytef*>(data.data()), data.size());
    if (!header || status != Z_OK || inflated != row * size) return false;
    for (size_t y = 0; y < static_cast<size_t>(size); ++y)
        if (static_cast<uint8_t>(pixels[y * row]) > 4) return false;
    return true;
}

// `file`, the input, is stored as it is when it is an 8-bit RGBA picture of
// an icon size (the packer decoded it to accept it); every other image is
// the packer's own.
void check_fitted(const std::string& file, const std::vector<IconImage>& icons) {
    check(icons.size() == std::size(icon_sizes), "not one image for each icon size");
    for (size_t i = 0; i < icons.size(); ++i) {
        const int size = icon_sizes[i];
        const IconImage& icon = icons[i];
        check(icon.width == static_cast<uint8_t>(size % 256) && icon.height == icon.width, "a wrong size listed");
        if (icon.data == file) {
            check(is_rgba8_png(file) && be32(file, 16) == static_cast<uint32_t>(size) &&
                      be32(file, 20) == static_cast<uint32_t>(size),
                  "the input stored as an image of another size or kind");
        } else {
            check(whole_rgba_png(icon.data, size), "a fitted image that is no whole PNG of its size");
        }
    }
}

void check_group(const std::vector<IconImage>& icons) {
    const std::string group = icon_group(icons);
    check(group.size() == 6 + 14 * icons.size(), "the icon group's length");
    check(le(group, 0, 2) == 0 && le(group, 2, 2) == 1 && le(group, 4, 2) == icons.size(), "the icon group's header");
    for (size_t i = 0; i < icons.size(); ++i) {
        const size_t at = 6 + 14 * i;
        const IconImage& icon = icons[i];
        check(static_cast<uint8_t>(group[at]) == icon.width && static_cast<uint8_t>(group[at + 1]) == icon.height &&
                  static_cast<uint8_t>(group[at + 2]) == icon.colors &&
                  static_cast<uint8_t>(group[at + 3]) == icon.reserved && le(group, at + 4, 2) == icon.planes &&
                  le(group, at + 6, 2) == icon.bit_count,
              "a group entry's fields");
        check(le(group, at + 8, 4) == icon.data.size(), "a group entry's size");
        check(le(group, at + 12, 2) == i + 1, "a group entry's identifier");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const bool named_ico = data[0] & 1;
    const std::string path = work_dir() + (named_ico ? "/icon.ico" : "/icon.png");
    if (!write_file(path, data + 1, size - 1)) std::abort();
    const std::string file(reinterpret_cast<const char*>(data + 1), size - 1);

    std::vector<IconImage> icons;
    std::string error;
    if (!load_icons({path}, &icons, &error)) {
        if (show) std::fprintf(stderr, "refused: %s\n", error.c_str());
        check(!error.empty() && error.find('\n') == std::string::npos, "a refusal not in one line");
        check(error.find(path) != std::string::npos, "a refusal that does not name the file");
        return 0;
    }
    if (show) std::fprintf(stderr, "accepted: %zu images\n", icons.size());
    check(!icons.empty(), "accepted without an image");
    // Read as an .ico exactly when it is no PNG and is named or marked as one.
    const bool ico = !is_png(file) && (named_ico || (file.size() >= 4 && le(file, 0, 4) == 0x00010000));
    if (ico)
        check_ico(file, icons);
    else
        check_fitted(file, icons);
    check_group(icons);
    return 0;
}
