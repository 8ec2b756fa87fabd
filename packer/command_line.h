// The packer's command line:
//   zembra pack  INPUT_DIR [--main REL] [--exclude GLOB]... -o BLOCK [packing options]
//   zembra link  BLOCK -o APP.exe [identity options]
//   zembra build INPUT_DIR [--main REL] [--exclude GLOB]... -o APP.exe [identity options] [packing options]
//   zembra list APP [--json] | extract APP -o DIR | verify APP | info APP
// link and build take --target windows|linux; pack and build read a project
// file (project_file.h), whose values the command line overrides. One
// description of the options gives both the parser and the help text.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "frame_encoder.h"
#include "identity.h"

struct CommandLine {
    std::string command;   // "pack", "link", "build", "list", "extract", "verify", "info", "help" or "version"
    std::string help;      // for "help": the text asked for
    std::string input;     // INPUT_DIR, BLOCK for link, APP for the commands that look into one
    std::string output;    // DIR for extract
    bool json = false;     // list --json
    std::string main;
    std::string target = "windows";   // the system the launcher is linked for
    Identity identity;
    CompressionSettings compression;
    std::vector<std::string> excludes;   // patterns of paths left out (exclude.h)
    // The options whose values the project file gave ("--level"), each with
    // where it gave it ("app/zembra.toml:4: 'level'").
    std::map<std::string, std::string> from_file;
};

// A packing option that takes a whole number, its range, and where the
// number goes; the project file takes the same numbers.
struct NumberOption {
    const char* option;
    int low;
    int high;
    void (*store)(CompressionSettings& settings, int number);
};
const std::vector<NumberOption>& number_options();
// The one named `option` ("--level"), which must be one of them.
const NumberOption& number_option(const std::string& option);

// Parses argv[1..]. False with a one-line reason naming the option or
// argument in `error`. Values are checked for form and range here;
// identity values by check_identity.
bool parse_command_line(int argc, const char* const* argv, CommandLine* line, std::string* error);

// The help text: every command and option.
std::string help_text();
