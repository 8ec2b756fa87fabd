// The version resource of a Windows launcher (VS_VERSIONINFO): the fixed
// part with the four-part version, and the strings of the identity.
#pragma once

#include <string>

#include "identity.h"

// The block for `identity`. False with one line naming the option in
// `error` when a value is too long for the block's 16-bit lengths.
bool version_block(const Identity& identity, std::string* block, std::string* error);
