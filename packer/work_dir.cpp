#include "work_dir.h"

#include <cerrno>

#include "host.h"
#include "interrupt_cleanup.h"

std::string temp_root() { return temp_directory(); }

WorkDir::~WorkDir() {
    // Depth first and without following links: a link to the user's block
    // is removed, never what it points to.
    if (path_.empty()) return;
    remove_tree(path_);
    keep_on_interrupt(path_);
}

bool WorkDir::create(std::string* error) {
    InterruptsHeld held;
    if (!make_private_directory(temp_root() + "/packer.", &path_)) {
        *error = "cannot create a scratch directory in " + temp_root() + ": " + error_text(errno);
        return false;
    }
    remove_on_interrupt(path_, true);
    return true;
}
