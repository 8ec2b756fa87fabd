// What a launcher says about the application it carries: built into its
// constants (company, product, version, unpack spec) and its resources.
#pragma once

#include <string>
#include <vector>

#include "launcher/identity_defaults.h"

struct Identity {
    std::string company = default_company;
    std::string product = default_product;
    std::string version = default_version;                // three parts; resources append ".0"
    std::string unpack_spec = default_unpack_spec;
    std::string description = default_description;
    std::string original_filename = default_original_filename;
    std::string internal_name = default_internal_name;
    std::vector<std::string> icons;                       // a .ico, a directory of PNGs, or PNG files; empty: default art
};
