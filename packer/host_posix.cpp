#include "host.h"

#include <unistd.h>

#include <climits>

std::string program_dir() {
    char path[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) return ".";
    std::string text(path, static_cast<size_t>(length));
    return text.substr(0, text.rfind('/'));
}

int online_cores() {
    long cores = sysconf(_SC_NPROCESSORS_ONLN);
    return cores < 1 ? 1 : static_cast<int>(cores);
}
