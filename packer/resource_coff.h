// Post-processing of the resource compiler's COFF object.
#pragma once

#include <cstdint>
#include <string>

// Sets the code page of every resource data entry in the object's .rsrc
// section. The compiler always writes 0 there, whatever code page it is
// given, and the linker copies the entries into the image as they are.
// False with a reason if the object has no well-formed resource tree.
bool set_resource_code_page(std::string* object, uint32_t code_page, std::string* reason);
