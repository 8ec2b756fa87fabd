// Recognising what a file is and finding the attached data in it: a Windows
// launcher (its .zembra section's descriptor), a Linux launcher (the same in
// an ELF program), or a bare block file as `zembra pack` writes it. The
// image is checked to be well formed on the way (headers, section table or
// segments, resources, every place the descriptor gives in bounds); the
// block itself is block_reader's.
#pragma once

#include <cstdint>
#include <string>

#include "image_bytes.h"
#include "version_reader.h"

enum class ImageKind { windows_launcher, linux_launcher, bare_block };

// "windows", "linux" or "block".
const char* image_kind_name(ImageKind kind);

struct ImageContents {
    ImageKind kind = ImageKind::bare_block;
    uint64_t block_offset = 0;   // the file byte where the block starts
    uint64_t block_size = 0;
    // A launcher's built-in texts, UTF-8; a bare block has none.
    std::string unpack_spec, company, product, version;
    // A Windows launcher's version block, and its header checksum: where it
    // is in the file and what it holds.
    VersionStrings version_strings;
    uint64_t checksum_at = 0;
    uint32_t stored_checksum = 0;
};

// False with a one-line reason (what is wrong with the file, without its
// name) when it is none of the three, or is damaged or cut short.
bool read_image(const ImageBytes& bytes, ImageContents* contents, std::string* error);
bool read_image(const unsigned char* bytes, uint64_t size, ImageContents* contents, std::string* error);

// Whether a Windows image's header checksum holds over the whole file.
// Reads the file through once. Other images have none and pass.
bool check_image_checksum(const ImageBytes& bytes, const ImageContents& contents, std::string* error);
