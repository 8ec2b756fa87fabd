// Writing a launcher: a copy of the target's stub with the attached data,
// the built-in texts and (for Windows) the resources added, in the packer's
// own code. No other program runs.
#pragma once

#include <string>
#include <vector>

#include "identity.h"
#include "output_file.h"
#include "pe_resources.h"
#include "stub.h"

// Everything a launcher is written from but the block.
struct LauncherParts {
    const LauncherTarget* target = nullptr;
    Identity identity;
    Stub stub;
    std::vector<Resource> resources;   // Windows only
};

// Reads the stub and makes the resources, and checks that a launcher can be
// written from them, so that bad input is found before a long pack. The
// identity must have passed check_identity. False with one line in `error`.
bool prepare_launcher(const LauncherTarget& target, const Identity& identity, LauncherParts* parts,
                      std::string* error);

// The same over a stub already read, which `parts` takes over.
bool prepare_launcher_from(const LauncherTarget& target, const Identity& identity, Stub stub, LauncherParts* parts,
                           std::string* error);

// Writes the launcher around the block file at `block_path` into `output`'s
// temporary file; the caller commits it. False with one line in `error`.
bool write_launcher(const LauncherParts& parts, const std::string& block_path, OutputFile* output,
                    std::string* error);
