// Reading back the version block of a Windows image: the strings Explorer
// and Task Manager show (CompanyName, FileVersion, ...).
#pragma once

#include <string>
#include <utility>
#include <vector>

// Key and value, UTF-8, in the block's order.
using VersionStrings = std::vector<std::pair<std::string, std::string>>;

// Parses a version block (VS_VERSION_INFO and its StringFileInfo tables).
// False with a reason when a node runs past its parent or the block, or a
// text is not UTF-16.
bool read_version_strings(const std::string& block, VersionStrings* strings, std::string* reason);

// The value of `key`, or empty.
std::string version_string(const VersionStrings& strings, const std::string& key);
