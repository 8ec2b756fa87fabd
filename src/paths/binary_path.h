#pragma once

// The launcher's own executable path, asked of the system once per process.
// The text lives in a process-wide buffer of 4097 units until the process
// ends; empty when the system could not say.
const char16_t* binary_path();
