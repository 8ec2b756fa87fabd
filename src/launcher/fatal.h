// The one way the launcher reports a failure: one line on a standard stream,
// then the end of the process. None of these return.
#pragma once

#include <cstdint>

inline constexpr int fatal_exit_code = 2;

inline constexpr const char* msg_register_handler = "Error, failed to register signal handler.";
inline constexpr const char* msg_no_header = "Error, couldn't find attached data header.";
inline constexpr const char* msg_no_memory = "Error, couldn't allocate memory.";
inline constexpr const char* msg_decode = "Error, couldn't decode attached data.";
inline constexpr const char* msg_unpack = "Error, couldn't unpack file to target path.";
inline constexpr const char* msg_launch = "Error, couldn't launch child";

// Writes "<message> ([Error <code>] <system text>)" to standard error.
// Returns; every caller then ends with exit code 2 (see fatal_exit_with_code).
void fatal_with_code(const char* message, uint32_t code);

// fatal_with_code, then exit code 2.
[[noreturn]] void fatal_exit_with_code(const char* message, uint32_t code);

// "Error, couldn't runtime expand spec '<spec>'." on standard error, then abort.
[[noreturn]] void fatal_expand_spec(const char16_t* spec);

// "Error, failed to open '<path>' for writing." on standard error, exit code 2.
[[noreturn]] void fatal_open_for_writing(const char16_t* path);

// One of the fixed standard-output rows (puts), then exit code 2.
[[noreturn]] void fatal_message(const char* message);

// Ends the process at once and writes nothing.
[[noreturn]] void fatal_stop();
