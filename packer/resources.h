// The Windows image resources of a launcher: manifest, version block, icons.
#pragma once

#include <string>
#include <vector>

#include "identity.h"
#include "pe_resources.h"

// Code page recorded in every resource entry of the image.
inline constexpr uint32_t resource_code_page = 1252;

// The manifest (24/1), the icons (3/1..n), their group (14/1) and the
// version block (16/1) for `identity`. The manifest and the default icons
// come from the packer's data files. False with one line in `error` on bad
// icon input or a missing data file.
bool launcher_resources(const Identity& identity, std::vector<Resource>* resources, std::string* error);
