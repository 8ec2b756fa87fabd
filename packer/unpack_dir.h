// Where a launcher unpacks, told without running it: its unpack spec
// expanded with its built-in texts, by the rules the launcher expands it
// with. Values that only the machine and the moment of a start can give
// stay as written: {PID}, {TIME}, {TIME_US} and {RANDOM} always, and the
// user's folders and the launcher's own path when the launcher is for
// another system than this one.
#pragma once

#include <string>

struct SpecValues {
    std::string company, product, version;
    char separator = '/';               // the launcher's system's
    bool this_system = false;           // folders and {PROGRAM} are this user's
    std::string program;                // the launcher's absolute path
};

struct UnpackDir {
    std::string path;          // as far as it could be expanded
    bool kept = false;         // some placeholders are shown as written
    std::string problem;       // non-empty: the launcher stops on this spec
};

UnpackDir expand_unpack_spec(const std::string& spec, const SpecValues& values);
