// The packer's command line:
//   zembra pack  INPUT_DIR [--main REL] -o BLOCK [packing options]
//   zembra link  BLOCK -o APP.exe [identity options]
//   zembra build INPUT_DIR [--main REL] -o APP.exe [identity options] [packing options]
// link and build take --target windows|linux. One description of the
// options gives both the parser and the help text.
#pragma once

#include <string>

#include "frame_encoder.h"
#include "identity.h"

struct CommandLine {
    std::string command;   // "pack", "link", "build", "help" or "version"
    std::string help;      // for "help": the text asked for
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
std::string help_text();
