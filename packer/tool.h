// The packer's own name, in its messages and help, and its version.
#pragma once

constexpr const char* tool_name = "zembra";
extern const char* const tool_version;
