// The project file, zembra.toml: the options of pack and build written down
// once, so that a build is the same each time it runs. Each key is an
// option's long name without its dashes (level = 19, unpack-spec = "..."),
// and exclude and icon take lists. Paths of files (input, output, icon)
// are relative to the file's directory; main and the exclude patterns
// name paths inside the input directory, as on the command line.
#pragma once

#include <set>
#include <string>

#include "command_line.h"

// The name of the project file looked for in the input directory.
constexpr const char* project_file_name = "zembra.toml";

// Reads the project file of a pack or build: `config` when not empty (the
// --config value), else zembra.toml in `line->input` when there is one.
// Takes every value whose option is not in `given` (the options the command
// line gave, by their long names) and records where it came from in
// `line->from_file`. The zembra.toml read from the input directory is left
// out of the block. False with one line in `error` for a file that cannot be
// read or parsed, or that holds an unknown key, a value of the wrong type or
// a bad value; the line names the file, the line and the key.
bool load_project_file(const std::string& config, const std::set<std::string>& given, CommandLine* line,
                       std::string* error);

// `message` with its leading option name ("--main 'x' does not exist")
// replaced by where the project file set that option, when it did.
std::string attributed(const CommandLine& line, const std::string& message);
