// The Windows image resources of a launcher: manifest, version block, icons.
#pragma once

#include <string>

#include "identity.h"

// Compiles the resources for `identity` into the object file `object_path`
// with the cross toolchain's resource compiler, working in `work_dir`.
// False with a one-line reason in `error` on bad input or a tool failure.
bool write_resource_object(const Identity& identity, const std::string& work_dir, const std::string& object_path,
                           std::string* error);
