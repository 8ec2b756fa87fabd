// What a launcher carries when the packer is given no identity options: its
// built-in placeholder values, where it unpacks, and the names in its
// version block.
#pragma once

inline constexpr char default_company[] = "Quen Lith";
inline constexpr char default_product[] = "Quen Lith";
inline constexpr char default_version[] = "1.0.20";   // three parts; the version block appends ".0"
inline constexpr char default_unpack_spec[] = "{CACHE_DIR}\\Quenlith\\{VERSION}";
inline constexpr char default_linux_unpack_spec[] = "{CACHE_DIR}/Quenlith/{VERSION}";
inline constexpr char default_description[] = "Quen Lith";
inline constexpr char default_original_filename[] = "Quenlith.exe";
inline constexpr char default_internal_name[] = "Quenlith";
