// The launcher's fatal functions for the fuzz targets: they throw FatalEnd
// where the launcher writes its line and ends the process.
#include "fatal_ends.h"

#include "launcher/fatal.h"

void fatal_with_code(const char*, uint32_t) {}

void fatal_exit_with_code(const char* message, uint32_t code) {
    throw FatalEnd{FatalKind::with_code, message, code, {}};
}

void fatal_expand_spec(const char16_t* spec) { throw FatalEnd{FatalKind::expand_spec, {}, 0, spec}; }

void fatal_open_for_writing(const char16_t* path) { throw FatalEnd{FatalKind::open_for_writing, {}, 0, path}; }

void fatal_message(const char* message) { throw FatalEnd{FatalKind::message, message, 0, {}}; }

void fatal_stop() { throw FatalEnd{FatalKind::stop, {}, 0, {}}; }
