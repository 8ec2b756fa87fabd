// Linking a launcher: the block and the identity constants go into a small
// assembled object, which is linked with the prebuilt launcher library of
// the chosen target.
#pragma once

#include <string>
#include <vector>

#include "identity.h"
#include "output_file.h"

// What differs between the systems a launcher can be linked for.
struct LinkTarget {
    std::string name;                      // also the staged library directory: lib/zembra/<name>
    std::string compiler;                  // assembles the payload and drives the link
    std::string data_section;              // read-only section directive for the payload
    std::string assembly_end;              // directives closing the payload source, if any
    std::vector<std::string> link_flags;   // before the objects
    std::vector<std::string> libraries;    // after the objects and -L<library dir>
    bool has_resources = false;            // link the image resources object
};

// A Windows x64 GUI launcher, built with mingw-w64.
const LinkTarget& windows_target();

// The assembly source for the payload object: `block_file` (a name the
// assembler resolves in its working directory) as launcher_attached_data,
// its length as launcher_attached_size, and the identity strings as
// NUL-terminated UTF-16. The identity must have passed check_identity.
std::string payload_assembly(const LinkTarget& target, const std::string& block_file, const Identity& identity);

// Where the packer finds `target`'s launcher libraries: next to itself, in
// ../lib/zembra/<name>.
std::string launcher_library_dir(const LinkTarget& target);

// Links a launcher around the block file at `block_path`, byte for byte,
// into `output`'s temporary file; the caller commits it. Tool output is
// relayed to standard error on failure; `error` gets one line.
bool link_launcher(const LinkTarget& target, const std::string& block_path, const Identity& identity,
                   OutputFile* output, std::string* error);
