// The packer's command line:
//   packer pack  INPUT_DIR [--main REL] -o BLOCK [packing options]
//   packer link  BLOCK -o APP.exe [identity options]
//   packer build INPUT_DIR [--main REL] -o APP.exe [identity options] [packing options]
// link and build take --target windows|linux.
#pragma once

#include <string>

#include "frame_encoder.h"
#include "identity.h"

struct CommandLine {
    std::string command;   // "pack", "link", "build", or "help"
    std::string input;     // INPUT_DIR, or BLOCK for link
    std::string output;
    std::string main;
    std::string target = "windows";   // the system the launcher is linked for
    Identity identity;
    CompressionSettings compression;
};

// Parses argv[1..]. False with a one-line reason naming the option or
// argument in `error`. Values are checked for form and range here;
// identity values by check_identity.
bool parse_command_line(int argc, const char* const* argv, CommandLine* line, std::string* error);

// The help text: every command and option.
const char* usage_text();

// All online cores, at least one.
int default_threads();
