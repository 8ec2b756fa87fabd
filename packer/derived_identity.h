// Identity values that follow from others. With --product P the file
// description and the internal name are P, the original file name is the
// output's, and the launcher unpacks into a folder named P, so that two
// products never share a cache directory. Without --product every value
// keeps its built-in default. A value given on the command line is kept.
#pragma once

#include <string>

#include "identity.h"

// Which identity values the command line gave.
struct IdentityGiven {
    bool product = false;
    bool description = false;
    bool original_filename = false;
    bool internal_name = false;
    bool unpack_spec = false;
};

// The default unpack spec shape with `folder` below the cache directory,
// written with the target's `separator` ('\\' or '/').
std::string unpack_spec_in(const std::string& folder, char separator);

// Empty when `product` can name the unpack folder as it is: on Windows
// (no reserved character, no trailing dot or space, no device name, at most
// 255 UTF-16 units) and inside a path template (no braces). Otherwise why
// not, as "it ...".
std::string product_folder_problem(const std::string& product);

// Fills in the values not given, for a launcher written to `output_path`
// whose paths use `separator`. False with one line in `error` when the
// product would name the unpack folder and cannot.
bool derive_identity(const IdentityGiven& given, const std::string& output_path, char separator,
                     Identity* identity, std::string* error);
