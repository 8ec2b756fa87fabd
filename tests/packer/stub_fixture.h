// Stubs for the packer's tests to write launchers from: a small Windows
// image made here (headers, a .text holding a debug directory, .zembra
// holding the empty descriptor), and the Linux stub the build links.
#pragma once

#include <cstring>
#include <string>

#include "fixture.h"
#include "launcher/image_descriptor.h"
#include "little_endian.h"

// Where the Windows stub's headers are.
inline constexpr size_t coff = 0x44, optional = 0x58, table = optional + 240;

inline std::string windows_stub() {
    std::string s(0x3000, '\0');
    s.replace(0, 2, "MZ");
    set_le(&s, 0x3C, 0x40, 4);
    s.replace(0x40, 4, std::string("PE\0\0", 4));
    set_le(&s, coff, 0x8664, 2);
    set_le(&s, coff + 2, 2, 2);
    set_le(&s, coff + 4, 0x12345678, 4);   // a linker's time stamp
    set_le(&s, coff + 16, 240, 2);
    set_le(&s, optional, 0x20B, 2);
    set_le(&s, optional + 8, 0x1000, 4);
    set_le(&s, optional + 32, 0x1000, 4);
    set_le(&s, optional + 36, 0x1000, 4);
    set_le(&s, optional + 56, 0x3000, 4);
    set_le(&s, optional + 60, 0x1000, 4);
    set_le(&s, optional + 108, 16, 4);
    set_le(&s, optional + 112 + 8 * 6, 0x1100, 4);   // debug directory, in .text
    set_le(&s, optional + 112 + 8 * 6 + 4, 28, 4);
    set_le(&s, 0x1100 + 4, 0x12345678, 4);
    const struct {
        const char* name;
        uint32_t rva;
    } sections[] = {{".text", 0x1000}, {".zembra", 0x2000}};
    for (size_t i = 0; i < 2; ++i) {
        const size_t h = table + 40 * i;
        std::memcpy(&s[h], sections[i].name, std::strlen(sections[i].name));
        set_le(&s, h + 8, 0x200, 4);
        set_le(&s, h + 12, sections[i].rva, 4);
        set_le(&s, h + 16, 0x1000, 4);
        set_le(&s, h + 20, sections[i].rva, 4);
    }
    std::memcpy(&s[0x2000], &empty_image_descriptor, sizeof empty_image_descriptor);
    return s;
}

#ifdef LINUX_STUB
inline const std::string& linux_stub() {
    static const std::string stub = read_file(LINUX_STUB);
    return stub;
}
#endif
