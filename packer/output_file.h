// An output written under a temporary name next to its destination and
// renamed into place only when complete, so that a failed or interrupted
// run never leaves a truncated block or launcher under the real name.
#pragma once

#include <string>

// Whether `destination` could be created, checked before long work starts
// (the directory exists and is writable, the name is not a directory).
bool output_can_be_written(const std::string& destination, std::string* error);

class OutputFile {
public:
    OutputFile() = default;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile();   // removes the temporary file unless committed

    // Creates the temporary file in the destination's directory.
    bool create(const std::string& destination, std::string* error);

    int fd() const { return fd_; }
    const std::string& destination() const { return destination_; }
    // Absolute, so that tools running in another directory can write it.
    const std::string& temporary_path() const { return temporary_; }
    // Closes the descriptor, for outputs that another program writes.
    void close_fd();

    // Closes the file, gives it `mode` (less the umask) and renames it to
    // the destination.
    bool commit(unsigned mode, std::string* error);

private:
    std::string destination_;
    std::string temporary_;
    int fd_ = -1;
    bool committed_ = false;
};
