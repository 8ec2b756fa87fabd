#include "output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "interrupt_cleanup.h"
#include "utf8.h"

OutputFile::~OutputFile() {
    if (fd_ >= 0) close(fd_);
    if (!committed_ && !temporary_.empty()) {
        unlink(temporary_.c_str());
        keep_on_interrupt(temporary_);
    }
}

bool output_can_be_written(const std::string& destination, std::string* error) {
    size_t slash = destination.rfind('/');
    std::string dir = slash == std::string::npos ? "." : destination.substr(0, slash + 1);
    struct stat info;
    if (destination.empty() || destination.back() == '/' ||
        (stat(destination.c_str(), &info) == 0 && S_ISDIR(info.st_mode))) {
        *error = "output '" + printable(destination) + "' is a directory";
        return false;
    }
    if (access(dir.c_str(), W_OK | X_OK) != 0) {
        *error = "cannot write '" + printable(destination) + "': " + std::strerror(errno);
        return false;
    }
    return true;
}

void OutputFile::close_fd() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
}

bool OutputFile::create(const std::string& destination, std::string* error) {
    destination_ = destination;
    if (destination.empty()) {
        *error = "no output file given (-o)";
        return false;
    }
    if (!output_can_be_written(destination, error)) return false;
    size_t slash = destination.rfind('/');
    std::string base = slash == std::string::npos ? destination : destination.substr(slash + 1);
    std::string pattern = destination.substr(0, slash + 1) + "." + base + ".XXXXXX";
    if (pattern[0] != '/') {
        char* cwd = getcwd(nullptr, 0);
        if (cwd == nullptr) {
            *error = std::string("cannot find the current directory: ") + std::strerror(errno);
            return false;
        }
        pattern = std::string(cwd) + "/" + pattern;
        free(cwd);
    }
    InterruptsHeld held;
    fd_ = mkostemp(pattern.data(), O_CLOEXEC);
    if (fd_ < 0) {
        *error = "cannot write '" + printable(destination) + "': " + std::strerror(errno);
        return false;
    }
    temporary_ = pattern;
    remove_on_interrupt(temporary_, false);
    return true;
}

bool OutputFile::commit(mode_t mode, std::string* error) {
    mode_t mask = umask(0);
    umask(mask);
    bool ok = fd_ < 0 || close(fd_) == 0;
    fd_ = -1;
    ok = ok && chmod(temporary_.c_str(), mode & ~mask) == 0 && rename(temporary_.c_str(), destination_.c_str()) == 0;
    if (!ok) {
        *error = "cannot write '" + printable(destination_) + "': " + std::strerror(errno);
        return false;
    }
    committed_ = true;
    keep_on_interrupt(temporary_);
    return true;
}
