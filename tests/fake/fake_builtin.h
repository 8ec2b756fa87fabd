// Sets what a test launcher has built in (see builtin_values.cpp).
#pragma once

#include <cstddef>
#include <string>

inline constexpr size_t fake_block_capacity = 1 << 20;

void fake_set_block(const std::string& bytes);
void fake_set_unpack_spec(const std::u16string& spec);   // at most 255 units
