// The systems a launcher can be written for, and the stubs they are written
// from: complete launchers with an empty descriptor, built with the packer
// and installed beside it (<root>/bin/zembra, <root>/lib/zembra/stubs, and
// the data files in <root>/share/zembra/res).
#pragma once

#include <string>

struct LauncherTarget {
    std::string name;        // as --target names it
    std::string stub_file;   // in <packer dir>/../lib/zembra/stubs
    bool has_resources;      // a Windows image: version block, manifest, icons
};

// The target named on the command line ("windows" or "linux"), or null.
const LauncherTarget* find_target(const std::string& name);

// The directory the running packer is installed below: the parent of the
// one it lives in.
std::string install_root();

struct Stub {
    std::string path;
    std::string bytes;
};

// Reads `target`'s stub. False with one line in `error` when it is missing
// or unreadable; its form is checked by the image writers.
bool read_stub(const LauncherTarget& target, Stub* stub, std::string* error);
