// The resource section of a Windows image: a three-level directory (type,
// name, language) over the resources' data.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct Resource {
    uint16_t type;
    uint16_t id;
    std::string data;
};

// The section's bytes for `resources`, every one under language 0 with
// `code_page` in its entry, for a section mapped at `section_rva`. The
// directories hold no time stamp. Identifiers must be unique per type.
std::string resource_section(std::vector<Resource> resources, uint32_t section_rva, uint32_t code_page);
