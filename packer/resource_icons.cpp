#include "resource_icons.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "fd_io.h"
#include "host.h"
#include "little_endian.h"
#include "utf8.h"

namespace {

// Paths are shown escaped, so a broken name still makes one readable line.
std::string quoted(const std::string& path) { return "\"" + printable(path) + "\""; }

bool ends_with_nocase(const std::string& text, const char* suffix) {
    size_t n = std::strlen(suffix);
    if (text.size() < n) return false;
    for (size_t i = 0; i < n; ++i) {
        char c = text[text.size() - n + i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != suffix[i]) return false;
    }
    return true;
}

bool looks_like_ico(const std::string& path, const std::string& bytes) {
    return ends_with_nocase(path, ".ico") || (bytes.size() >= 4 && get_le32(bytes, 0) == 0x00010000);
}

// The .png files of a directory, by name, so the choice among pictures of
// one size does not depend on the order the file system lists them in.
bool list_pngs(const std::string& dir, std::vector<std::string>* paths, std::string* error) {
    std::vector<std::string> all, names;
    if (!list_directory(dir, &all)) {
        *error = "cannot read icon directory " + quoted(dir) + ": " + error_text(errno);
        return false;
    }
    for (const std::string& name : all) {
        if (ends_with_nocase(name, ".png")) names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    if (names.empty()) {
        *error = "no PNG files in icon directory " + quoted(dir);
        return false;
    }
    for (const std::string& name : names) paths->push_back(dir + "/" + name);
    return true;
}

// `decode` false: the pixels are left for fit_pictures to decode if it
// needs them.
bool read_picture(const std::string& path, std::string bytes, bool decode, std::vector<IconPicture>* pictures,
                  std::string* error) {
    if (!is_png(bytes)) {
        *error = "icon " + quoted(path) + " is not a PNG or ICO file";
        return false;
    }
    IconPicture picture;
    std::string reason;
    int width = 0, height = 0;
    const bool read = decode ? decode_png(bytes, &picture.image, &reason) : png_size(bytes, &width, &height, &reason);
    if (!read) {
        *error = "icon " + quoted(path) + " is not a usable PNG file: " + reason;
        return false;
    }
    if (decode) {
        width = picture.image.width;
        height = picture.image.height;
    }
    if (width != height) {
        *error = "icon " + quoted(path) + " is not square (" + std::to_string(width) + "x" + std::to_string(height) +
                 ")";
        return false;
    }
    picture.side = width;
    picture.file = std::move(bytes);
    pictures->push_back(std::move(picture));
    return true;
}

bool load(const std::vector<std::string>& inputs, bool decode, std::vector<IconImage>* icons, std::string* error) {
    std::vector<IconPicture> pictures;
    for (const std::string& input : inputs) {
        FileInfo info;
        if (!examine(input, true, &info)) {
            *error = "cannot read icon " + quoted(input) + ": " + error_text(errno);
            return false;
        }
        std::vector<std::string> files;
        if (info.kind == FileKind::directory) {
            if (!list_pngs(input, &files, error)) return false;
        } else {
            files.push_back(input);
        }
        for (const std::string& path : files) {
            std::string bytes;
            if (!read_whole_file(path, "icon " + quoted(path), &bytes, error)) return false;
            if (!is_png(bytes) && looks_like_ico(path, bytes)) {
                if (inputs.size() != 1 || files.size() != 1) {
                    *error = "icon " + quoted(path) + ": an .ico file must be the only icon input";
                    return false;
                }
                std::string reason;
                if (!parse_ico(bytes, icons, &reason)) {
                    *error = "icon " + quoted(path) + " is not a valid ICO file: " + reason;
                    return false;
                }
                return true;
            }
            if (!read_picture(path, std::move(bytes), decode, &pictures, error)) return false;
        }
    }
    return fit_pictures(pictures, icons, error);
}

}  // namespace

bool parse_ico(const std::string& bytes, std::vector<IconImage>* icons, std::string* reason) {
    if (bytes.size() < 6 || get_le16(bytes, 0) != 0 || get_le16(bytes, 2) != 1) {
        *reason = "no icon file header";
        return false;
    }
    const size_t count = get_le16(bytes, 4);
    const size_t directory_end = 6 + 16 * count;
    if (count == 0) {
        *reason = "it holds no image";
        return false;
    }
    if (directory_end > bytes.size()) {
        *reason = "its directory is cut short";
        return false;
    }
    std::vector<IconImage> found;
    for (size_t i = 0; i < count; ++i) {
        const size_t at = 6 + 16 * i;
        IconImage icon;
        icon.width = static_cast<uint8_t>(bytes[at]);
        icon.height = static_cast<uint8_t>(bytes[at + 1]);
        icon.colors = static_cast<uint8_t>(bytes[at + 2]);
        icon.reserved = static_cast<uint8_t>(bytes[at + 3]);
        icon.planes = get_le16(bytes, at + 4);
        icon.bit_count = get_le16(bytes, at + 6);
        const size_t size = get_le32(bytes, at + 8), offset = get_le32(bytes, at + 12);
        if (size == 0 || offset < directory_end || offset > bytes.size() || size > bytes.size() - offset) {
            *reason = "image " + std::to_string(i + 1) + " lies outside the file";
            return false;
        }
        icon.data = bytes.substr(offset, size);
        // An icon image is a PNG file or a DIB starting with a bitmap info header.
        const bool dib = size >= 40 && (get_le32(icon.data, 0) == 40 || get_le32(icon.data, 0) == 108 ||
                                         get_le32(icon.data, 0) == 124);
        if (!is_png(icon.data) && !dib) {
            *reason = "image " + std::to_string(i + 1) + " is neither a PNG nor a bitmap";
            return false;
        }
        found.push_back(std::move(icon));
    }
    *icons = std::move(found);
    return true;
}

bool fit_pictures(const std::vector<IconPicture>& pictures, std::vector<IconImage>* icons, std::string* error) {
    if (pictures.empty()) {
        *error = "no icon images";
        return false;
    }
    std::vector<IconImage> fitted;
    // Kept from one size to the next: the last picture decoded here, and the
    // scaled pixels, whose memory serves every size.
    RgbaImage decoded, scaled;
    const IconPicture* decoded_from = nullptr;
    for (int size : icon_sizes) {
        const IconPicture* exact = nullptr;
        const IconPicture* larger = nullptr;
        const IconPicture* largest = nullptr;
        for (const IconPicture& p : pictures) {
            const int side = p.side;
            if (side == size && !exact) exact = &p;
            if (side > size && (!larger || side < larger->side)) larger = &p;
            if (!largest || side > largest->side) largest = &p;
        }
        IconImage icon;
        icon.width = icon.height = static_cast<uint8_t>(size == 256 ? 0 : size);
        icon.bit_count = 32;
        std::string reason;
        if (exact && is_rgba8_png(exact->file)) {
            icon.data = exact->file;
        } else {
            const IconPicture* source = exact ? exact : larger ? larger : largest;
            const RgbaImage* pixels = &source->image;
            if (pixels->pixels.empty()) {
                if (decoded_from != source && !decode_png(source->file, &decoded, &reason)) {
                    *error = "cannot read a picture for the " + std::to_string(size) + " pixel icon: " + reason;
                    return false;
                }
                decoded_from = source;
                pixels = &decoded;
            }
            if (!exact) {
                scale_square(*pixels, size, &scaled);
                pixels = &scaled;
            }
            if (!encode_png(*pixels, &icon.data, &reason)) {
                *error = "cannot write a " + std::to_string(size) + " pixel icon: " + reason;
                return false;
            }
        }
        fitted.push_back(std::move(icon));
    }
    *icons = std::move(fitted);
    return true;
}

bool load_icons(const std::vector<std::string>& inputs, std::vector<IconImage>* icons, std::string* error) {
    return load(inputs, true, icons, error);
}

bool load_default_icons(const std::string& dir, std::vector<IconImage>* icons, std::string* error) {
    return load({dir}, false, icons, error);
}

std::string icon_group(const std::vector<IconImage>& icons) {
    std::string group;
    append_le(&group, 0, 2);   // reserved
    append_le(&group, 1, 2);   // type: icon
    append_le(&group, icons.size(), 2);
    for (size_t i = 0; i < icons.size(); ++i) {
        const IconImage& icon = icons[i];
        group.push_back(static_cast<char>(icon.width));
        group.push_back(static_cast<char>(icon.height));
        group.push_back(static_cast<char>(icon.colors));
        group.push_back(static_cast<char>(icon.reserved));
        append_le(&group, icon.planes, 2);
        append_le(&group, icon.bit_count, 2);
        append_le(&group, icon.data.size(), 4);
        append_le(&group, i + 1, 2);
    }
    return group;
}
