#pragma once

#include <cstdint>

// The whole life of the launcher: returns the child's exit code. Every
// failure ends the process inside the step that meets it.
uint32_t launcher_main();
