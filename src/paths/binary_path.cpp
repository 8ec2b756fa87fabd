#include "paths/binary_path.h"

#include "launcher/state.h"
#include "platform/platform.h"

const char16_t* binary_path() {
    // The path is taken as the system reports it: no links resolved, no
    // prefix removed. An empty buffer means the system has not answered yet.
    char16_t* path = launcher.binary_path_buffer;
    if (path[0] == 0) os_module_path(path, binary_path_capacity);
    return path;
}
