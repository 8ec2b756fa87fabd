// Finding the files to pack: every regular file below the input directory
// (links followed), in the order the launcher receives them, each with the
// entry name it will carry.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct InputFile {
    std::string path;           // where to read it (input directory + relative path)
    std::string relative;       // relative path with '/' separators, UTF-8
    std::u16string entry_name;  // relative path with '\' separators, UTF-16
    uint64_t size = 0;          // as seen while collecting
};

struct InputTree {
    std::vector<InputFile> files;         // main executable first (when there is any file)
    std::vector<std::string> warnings;    // one line each
};

// Collects the files below `input_dir`, leaving out what one of the
// `excludes` patterns (exclude.h) matches. `main_relative` names the main
// executable ('/' or '\' separators); empty means "the only .exe at the top".
// False with a one-line reason naming the file in `error`; a main executable
// that is left out is an error.
bool collect_input(const std::string& input_dir, const std::string& main_relative, InputTree* tree,
                   std::string* error, const std::vector<std::string>& excludes = {});
