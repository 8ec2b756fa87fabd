// The real POSIX platform code meeting faults that the system seldom gives on
// demand: the table of system calls is pointed at hooks that fail or shorten
// chosen calls and pass every other call on to the system, against real files
// and processes.
#include <gtest/gtest.h>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/convert.h"
#include "scratch_dir.h"
#include "platform/posix/system_calls.h"

namespace {

// What the next call of a hooked kind does: fail with `error`, or reach the
// system with at most `limit` bytes (0 without an error: report nothing done).
struct Step {
    int error;
    size_t limit = static_cast<size_t>(-1);
};
Step fails(int error) { return {error}; }
Step at_most(size_t limit) { return {0, limit}; }

// The steps each hook takes, one per call, before it passes calls on unchanged.
std::deque<Step> write_steps, read_steps, open_steps, flock_steps, mkdir_steps, spawn_steps, waitid_steps,
    thread_steps;
SystemCalls real = system_calls;

bool next(std::deque<Step>& steps, Step* step) {
    if (steps.empty()) return false;
    *step = steps.front();
    steps.pop_front();
    return true;
}

ssize_t write_hook(int fd, const void* data, size_t size) {
    Step step;
    if (!next(write_steps, &step)) return real.write(fd, data, size);
    if (step.error != 0) return errno = step.error, -1;
    if (step.limit == 0) return 0;
    return real.write(fd, data, size < step.limit ? size : step.limit);
}

ssize_t read_hook(int fd, void* buffer, size_t size) {
    Step step;
    if (!next(read_steps, &step)) return real.read(fd, buffer, size);
    if (step.error != 0) return errno = step.error, -1;
    return real.read(fd, buffer, size < step.limit ? size : step.limit);
}

int open_hook(const char* path, int flags, mode_t mode) {
    Step step;
    if (next(open_steps, &step) && step.error != 0) return errno = step.error, -1;
    return real.open(path, flags, mode);
}

int flock_hook(int fd, int operation) {
    Step step;
    if (next(flock_steps, &step) && step.error != 0) return errno = step.error, -1;
    return real.flock(fd, operation);
}

int mkdir_hook(const char* path, mode_t mode) {
    Step step;
    if (next(mkdir_steps, &step) && step.error != 0) return errno = step.error, -1;
    return real.mkdir(path, mode);
}

// posix_spawn reports its failure as its result, not in errno.
int spawn_hook(pid_t* pid, const char* path, const posix_spawn_file_actions_t* actions,
               const posix_spawnattr_t* attributes, char* const argv[], char* const envp[]) {
    Step step;
    if (next(spawn_steps, &step) && step.error != 0) return step.error;
    return real.posix_spawn(pid, path, actions, attributes, argv, envp);
}

int waitid_hook(idtype_t type, id_t id, siginfo_t* info, int options) {
    Step step;
    if (next(waitid_steps, &step) && step.error != 0) return errno = step.error, -1;
    return real.waitid(type, id, info, options);
}

// pthread_create, too, reports its failure as its result.
int thread_hook(pthread_t* thread, const pthread_attr_t* attributes, void* (*body)(void*), void* argument) {
    Step step;
    if (next(thread_steps, &step) && step.error != 0) return step.error;
    return real.pthread_create(thread, attributes, body, argument);
}

size_t open_descriptors() {
    size_t count = 0;
    DIR* dir = opendir("/proc/self/fd");
    while (dir != nullptr && readdir(dir) != nullptr) ++count;
    if (dir != nullptr) closedir(dir);
    return count;
}

class SystemFaults : public ScratchDir {
protected:
    void SetUp() override {
        ScratchDir::SetUp();
        for (auto* steps : {&write_steps, &read_steps, &open_steps, &flock_steps, &mkdir_steps, &spawn_steps,
                            &waitid_steps, &thread_steps})
            steps->clear();
        system_calls.write = write_hook;
        system_calls.read = read_hook;
        system_calls.open = open_hook;
        system_calls.flock = flock_hook;
        system_calls.mkdir = mkdir_hook;
        system_calls.posix_spawn = spawn_hook;
        system_calls.waitid = waitid_hook;
        system_calls.pthread_create = thread_hook;
        descriptors_ = open_descriptors();
    }
    void TearDown() override {
        system_calls = real;
        // Whatever failed, the platform code closed what it opened.
        EXPECT_EQ(open_descriptors(), descriptors_);
        ScratchDir::TearDown();
    }

    size_t descriptors_ = 0;
};

TEST_F(SystemFaults, WritesCarryOnThroughInterruptionsAndShortCountsAndReportWhatStopsThem) {
    const std::string data = "0123456789";
    struct Case {
        const char* name;
        std::vector<Step> steps;
        bool ok;
        uint32_t written;
        uint32_t error;
    };
    const Case cases[] = {
        {"interrupted twice", {fails(EINTR), fails(EINTR)}, true, 10, 0},
        {"short writes", {at_most(3), at_most(1), at_most(2)}, true, 10, 0},
        {"full disk after four bytes", {at_most(4), fails(ENOSPC)}, false, 4, ENOSPC},
        {"full disk at once", {fails(ENOSPC)}, false, 0, ENOSPC},
        {"access taken away", {at_most(7), fails(EACCES)}, false, 7, EACCES},
        {"nothing written and no reason", {at_most(2), at_most(0)}, false, 2, EIO},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FileHandle file = os_open_for_write(path("out").c_str());
        ASSERT_NE(file, nullptr);
        write_steps.assign(c.steps.begin(), c.steps.end());
        uint32_t written = 0xDEAD;
        EXPECT_EQ(os_write_file(file, data.data(), static_cast<uint32_t>(data.size()), &written), c.ok);
        EXPECT_EQ(written, c.written);
        if (!c.ok) EXPECT_EQ(os_last_error(), c.error);
        os_close_file(file);
        // What the system accepted is on disk, and nothing else.
        EXPECT_EQ(get("out"), data.substr(0, c.written));
        EXPECT_TRUE(write_steps.empty());
    }
}

TEST_F(SystemFaults, OpeningForWritingIsRefusedWithTheReasonAndLeavesTheFileAlone) {
    struct Case {
        const char* name;
        std::vector<Step> open, flock;
        bool opened;
        uint32_t error;
        bool in_use;
    };
    const Case cases[] = {
        {"access denied", {fails(EACCES)}, {}, false, EACCES, false},
        {"read-only file system", {fails(EROFS)}, {}, false, EROFS, false},
        // Another launcher reads it: the open must not wait, and must not empty it.
        {"held by a reader", {}, {fails(EWOULDBLOCK)}, false, EWOULDBLOCK, true},
        {"lock interrupted", {}, {fails(EINTR)}, true, 0, false},
        {"lock refused by the system", {}, {fails(ENOLCK)}, false, ENOLCK, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        put("file", "old content");
        open_steps.assign(c.open.begin(), c.open.end());
        flock_steps.assign(c.flock.begin(), c.flock.end());
        FileHandle file = os_open_for_write(path("file").c_str());
        EXPECT_EQ(file != nullptr, c.opened);
        if (file != nullptr) {
            EXPECT_EQ(get("file"), "");   // emptied, as a fresh write needs
            os_close_file(file);
            continue;
        }
        EXPECT_EQ(os_last_error(), c.error);
        EXPECT_EQ(os_in_use_error(os_last_error()), c.in_use);
        EXPECT_EQ(get("file"), "old content");
    }
}

TEST_F(SystemFaults, ReadingRetriesAnInterruptionAndReportsOtherFailures) {
    put("file", "checked bytes");
    struct Case {
        const char* name;
        std::vector<Step> open, flock, read;
        bool opened, ok;
        std::string got;
    };
    const Case cases[] = {
        {"interrupted read", {}, {}, {fails(EINTR), fails(EINTR)}, true, true, "checked bytes"},
        {"short read", {}, {}, {at_most(4)}, true, true, "chec"},
        {"device error", {}, {}, {fails(EIO)}, true, false, ""},
        {"access denied", {fails(EACCES)}, {}, {}, false, false, ""},
        // Another launcher is emptying it: not to be read half written.
        {"being emptied", {}, {fails(EWOULDBLOCK)}, {}, false, false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        open_steps.assign(c.open.begin(), c.open.end());
        flock_steps.assign(c.flock.begin(), c.flock.end());
        read_steps.assign(c.read.begin(), c.read.end());
        ReadHandle file = os_open_for_read(path("file").c_str());
        ASSERT_EQ(file != nullptr, c.opened);
        if (file == nullptr) continue;
        char buffer[64] = {};
        uint32_t got = 0xDEAD;
        EXPECT_EQ(os_read_file(file, buffer, sizeof buffer, &got), c.ok);
        EXPECT_EQ(std::string(buffer, c.ok ? got : 0), c.got);
        if (!c.ok) EXPECT_EQ(got, 0u);
        os_close_read(file);
    }
}

TEST_F(SystemFaults, DirectoryCreationSaysFailedForEveryReasonButAnExistingOne) {
    struct Case {
        int error;
        DirResult result;
    };
    const Case cases[] = {
        {EACCES, DirResult::failed},
        {ENOSPC, DirResult::failed},
        {EROFS, DirResult::failed},
        {ENOENT, DirResult::failed},
        {EEXIST, DirResult::already_exists},
        {0, DirResult::created},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.error);
        std::string name = "dir" + std::to_string(c.error);
        mkdir_steps = {fails(c.error)};
        EXPECT_EQ(os_create_dir(path(name).c_str()), c.result);
        struct stat info;
        EXPECT_EQ(stat(native(name).c_str(), &info) == 0, c.result == DirResult::created);
    }
}

ChildHandle start_shell(std::u16string script) {
    std::u16string arg0 = u"sh", flag = u"-c";
    char16_t* args[] = {arg0.data(), flag.data(), script.data(), nullptr};
    return os_start_child(u"/bin/sh", ChildCommand{args, 3});
}

TEST_F(SystemFaults, AFailedStartReportsTheSystemsReasonAndLeavesNoChild) {
    for (int error : {EACCES, ENOEXEC, EAGAIN, ENOMEM}) {
        SCOPED_TRACE(error);
        spawn_steps = {fails(error)};
        EXPECT_EQ(start_shell(u"exit 0"), nullptr);
        EXPECT_EQ(os_last_error(), static_cast<uint32_t>(error));
    }
    // The next start, without a fault, still works.
    ChildHandle child = start_shell(u"exit 4");
    ASSERT_NE(child, nullptr);
    uint32_t code = 0;
    EXPECT_TRUE(os_wait_child(child, wait_forever));
    EXPECT_TRUE(os_child_exit_code(child, &code));
    EXPECT_EQ(code, 4u);
    os_close_child(child);
}

TEST_F(SystemFaults, AWaitThatFailsSaysTheChildHasNotEndedAndAnInterruptedOneIsRetried) {
    ChildHandle child = start_shell(u"exit 5");
    ASSERT_NE(child, nullptr);
    uint32_t code = 0xDEAD;
    // The failed wait gives no end and no exit code (the launcher then
    // reports exit code 1); nothing is reaped, so a later wait still works.
    waitid_steps = {fails(ECHILD), fails(ECHILD)};
    EXPECT_FALSE(os_wait_child(child, wait_forever));
    EXPECT_FALSE(os_child_exit_code(child, &code));
    waitid_steps = {fails(EINTR), fails(EINTR)};
    EXPECT_TRUE(os_wait_child(child, wait_forever));
    EXPECT_TRUE(waitid_steps.empty());
    EXPECT_TRUE(os_child_exit_code(child, &code));
    EXPECT_EQ(code, 5u);
    os_close_child(child);
}

TEST_F(SystemFaults, TheUnpackLockTellsATakenLockFromAFailureAndClosesWhatItOpened) {
    ASSERT_EQ(mkdir(native("target").c_str(), 0777), 0);
    struct Case {
        const char* name;
        std::vector<Step> open, flock;
        LockResult result;
    };
    const Case cases[] = {
        {"held by another launcher", {}, {fails(EWOULDBLOCK)}, LockResult::timed_out},
        {"interrupted", {}, {fails(EINTR), fails(EINTR)}, LockResult::acquired},
        {"no locks on this file system", {}, {fails(ENOLCK)}, LockResult::failed},
        {"access denied", {fails(EACCES)}, {}, LockResult::failed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        open_steps.assign(c.open.begin(), c.open.end());
        flock_steps.assign(c.flock.begin(), c.flock.end());
        DirLock lock = nullptr;
        EXPECT_EQ(os_lock_dir(path("target").c_str(), u"key", 0, &lock), c.result);
        EXPECT_EQ(lock != nullptr, c.result == LockResult::acquired);
        if (lock != nullptr) os_unlock_dir(lock);
    }
}

void count_run(void* runs) { ++*static_cast<int*>(runs); }

TEST_F(SystemFaults, AThreadThatCannotBeStartedIsNoThreadAndTheNextOneStarts) {
    int runs = 0;
    for (int error : {EAGAIN, ENOMEM}) {
        thread_steps = {fails(error)};
        EXPECT_EQ(os_start_thread(count_run, &runs), nullptr) << error;
    }
    ThreadHandle thread = os_start_thread(count_run, &runs);
    ASSERT_NE(thread, nullptr);
    os_join_thread(thread);
    EXPECT_EQ(runs, 1);
}

}  // namespace
