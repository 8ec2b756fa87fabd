// A private scratch directory, removed with everything in it when done.
#pragma once

#include <string>

class WorkDir {
public:
    WorkDir() = default;
    WorkDir(const WorkDir&) = delete;
    WorkDir& operator=(const WorkDir&) = delete;
    ~WorkDir();

    // Creates it below temp_root().
    bool create(std::string* error);
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// The directory for scratch files: $TMPDIR when set, else /tmp (on Windows
// its temporary folder).
std::string temp_root();
