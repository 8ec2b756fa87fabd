#include "work_dir.h"

#include <ftw.h>
#include <stdio.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "interrupt_cleanup.h"

namespace {

int remove_one(const char* path, const struct stat*, int, struct FTW*) {
    remove(path);
    return 0;
}

}  // namespace

std::string temp_root() {
    const char* dir = std::getenv("TMPDIR");
    return dir != nullptr && dir[0] != 0 ? dir : "/tmp";
}

WorkDir::~WorkDir() {
    // Depth first and without following links: a link to the user's block
    // is removed, never what it points to.
    if (path_.empty()) return;
    nftw(path_.c_str(), remove_one, 16, FTW_DEPTH | FTW_PHYS);
    keep_on_interrupt(path_);
}

bool WorkDir::create(std::string* error) {
    std::string pattern = temp_root() + "/packer.XXXXXX";
    InterruptsHeld held;
    if (mkdtemp(pattern.data()) == nullptr) {
        *error = "cannot create a scratch directory in " + temp_root() + ": " + std::strerror(errno);
        return false;
    }
    path_ = pattern;
    remove_on_interrupt(path_, true);
    return true;
}
