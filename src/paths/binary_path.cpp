#include "paths/binary_path.h"

#include "platform/platform.h"

char16_t binary_path_buffer[binary_path_capacity];

const char16_t* binary_path() {
    // The path is taken as the system reports it: no links resolved, no
    // prefix removed. An empty buffer means the system has not answered yet.
    if (binary_path_buffer[0] == 0) os_module_path(binary_path_buffer, binary_path_capacity);
    return binary_path_buffer;
}
