// What a launcher says about the application it carries: built into its
// constants (company, product, version, unpack spec) and its resources.
#pragma once

#include <string>
#include <vector>

struct Identity {
    std::string company = "Quen Lith";
    std::string product = "Quen Lith";
    std::string version = "1.0.20";                       // three parts; resources append ".0"
    std::string unpack_spec = "{CACHE_DIR}\\Quenlith\\{VERSION}";
    std::string description = "Quen Lith";
    std::string original_filename = "Quenlith.exe";
    std::string internal_name = "Quenlith";
    std::vector<std::string> icons;                       // a .ico, a directory of PNGs, or PNG files; empty: default art
};
