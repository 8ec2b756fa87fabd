// The fuzz targets run the launcher's code many times in one process, so
// its fatal ends cannot end the process. Here they unwind instead, carrying
// what the launcher would have written and how it would have ended; each
// target checks that the ending is one the launcher documents.
#pragma once

#include <cstdint>
#include <string>

enum class FatalKind {
    message,            // one of the fixed standard-output lines, exit code 2
    with_code,          // a message with the system error code, exit code 2
    open_for_writing,   // the open message with a path, exit code 2
    expand_spec,        // the expansion message, then abort
    stop,               // the silent stop
};

struct FatalEnd {
    FatalKind kind;
    std::string message;    // the narrow message, when there is one
    uint32_t code = 0;      // the system error code of with_code
    std::u16string text;    // the path or spec of open_for_writing / expand_spec
};
