#include "output_file.h"

#include <cerrno>
#include <random>

#include "host.h"
#include "interrupt_cleanup.h"
#include "utf8.h"

OutputFile::~OutputFile() {
    if (fd_ >= 0) close_file(fd_);
    if (!committed_ && !temporary_.empty()) {
        remove_file(temporary_);
        keep_on_interrupt(temporary_);
    }
}

namespace {

// Where the directory part of `path` ends: after its last separator, or 0.
size_t name_start(const std::string& path) {
    size_t slash = path.find_last_of(path_separators);
    return slash == std::string::npos ? 0 : slash + 1;
}

}  // namespace

bool output_can_be_written(const std::string& destination, std::string* error) {
    const size_t start = name_start(destination);
    std::string dir = start == 0 ? "." : destination.substr(0, start);
    FileInfo info;
    if (destination.empty() || start == destination.size() ||
        (examine(destination, true, &info) && info.kind == FileKind::directory)) {
        *error = "output '" + printable(destination) + "' is a directory";
        return false;
    }
    if (!can_create_in(dir)) {
        *error = "cannot write '" + printable(destination) + "': " + error_text(errno);
        return false;
    }
    return true;
}

void OutputFile::close_fd() {
    if (fd_ >= 0) close_file(fd_);
    fd_ = -1;
}

bool OutputFile::create(const std::string& destination, std::string* error) {
    destination_ = destination;
    if (destination.empty()) {
        *error = "no output file given (-o)";
        return false;
    }
    if (!output_can_be_written(destination, error)) return false;
    const size_t start = name_start(destination);
    std::string prefix = destination.substr(0, start) + "." + destination.substr(start) + ".";
    if (!is_absolute_path(prefix)) {
        std::string cwd;
        if (!current_directory(&cwd)) {
            *error = std::string("cannot find the current directory: ") + error_text(errno);
            return false;
        }
        prefix = cwd + "/" + prefix;
    }
    // A name nobody else uses: a few random characters, tried again while
    // the name is taken.
    static const char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::random_device seed;
    std::mt19937 pick(seed());
    std::string name;
    InterruptsHeld held;
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = prefix;
        for (int i = 0; i < 6; ++i) name += letters[pick() % (sizeof letters - 1)];
        fd_ = create_new_file(name);
        if (fd_ >= 0 || errno != EEXIST) break;
    }
    if (fd_ < 0) {
        *error = "cannot write '" + printable(destination) + "': " + error_text(errno);
        return false;
    }
    temporary_ = name;
    remove_on_interrupt(temporary_, false);
    return true;
}

bool OutputFile::commit(unsigned mode, std::string* error) {
    bool ok = fd_ < 0 || close_file(fd_);
    fd_ = -1;
    ok = ok && set_file_mode(temporary_, mode) && rename_over(temporary_, destination_);
    if (!ok) {
        *error = "cannot write '" + printable(destination_) + "': " + error_text(errno);
        return false;
    }
    committed_ = true;
    keep_on_interrupt(temporary_);
    return true;
}
