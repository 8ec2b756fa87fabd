// The system calls through which the POSIX platform layer reads and writes
// files, makes directories, takes locks, starts threads and starts and waits
// for the child: one table, so that a test can put a fault in the real code's
// way (an interrupted call, a short write, a full disk) that the system
// seldom gives on demand. The launcher never changes it; each entry is the
// system's own function, and the call through it costs one indirect jump.
#pragma once

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>

struct SystemCalls {
    int (*open)(const char* path, int flags, mode_t mode);
    ssize_t (*read)(int fd, void* buffer, size_t size);
    ssize_t (*write)(int fd, const void* data, size_t size);
    int (*close)(int fd);
    int (*mkdir)(const char* path, mode_t mode);
    int (*flock)(int fd, int operation);
    int (*ftruncate)(int fd, off_t length);
    int (*fchmod)(int fd, mode_t mode);
    int (*fstat)(int fd, struct stat* info);
    int (*posix_spawn)(pid_t* pid, const char* path, const posix_spawn_file_actions_t* actions,
                       const posix_spawnattr_t* attributes, char* const argv[], char* const envp[]);
    int (*waitid)(idtype_t type, id_t id, siginfo_t* info, int options);
    pid_t (*waitpid)(pid_t pid, int* status, int options);
    int (*kill)(pid_t pid, int signal_number);
    int (*pthread_create)(pthread_t* thread, const pthread_attr_t* attributes, void* (*body)(void*), void* argument);
};

extern SystemCalls system_calls;
