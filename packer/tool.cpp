#include "tool.h"

// Set by the build from the project's version.
const char* const tool_version = ZEMBRA_VERSION;
