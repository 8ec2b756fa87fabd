#include "platform/posix/system_calls.h"

#include <sys/file.h>
#include <unistd.h>

namespace {

// open() takes its mode through "...", which no plain pointer can name.
int open_file(const char* path, int flags, mode_t mode) { return ::open(path, flags, mode); }

}  // namespace

SystemCalls system_calls = {
    open_file, ::read, ::write, ::close, ::mkdir, ::flock, ::ftruncate, ::fchmod, ::fstat,
    ::posix_spawn, ::waitid, ::waitpid, ::kill, ::pthread_create,
};
