// The Linux launcher: an x86-64 ELF program linked with the host compiler
// around the same block, carrying everything it needs but the C library.
#pragma once

#include <string>

#include "link.h"

const LinkTarget& linux_target();

// The target named on the command line ("windows" or "linux"), or null.
const LinkTarget* find_target(const std::string& name);
