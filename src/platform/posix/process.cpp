// The child process and console-like events on POSIX. The child gets the
// argument vector as it is (no command line to re-split), and SIGINT, SIGHUP
// and SIGTERM reach the handler on a thread of its own, never in a signal
// context.
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <pthread.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/platform.h"
#include "platform/posix/convert.h"
#include "platform/posix/ending.h"
#include "platform/posix/system_calls.h"

extern char** environ;

namespace {

// The child stays a zombie, with its pid reserved, until os_close_child
// reaps it: waits and terminations from two threads can never reach a
// process that merely reuses the number.
struct Child {
    pid_t pid;
};

Child* as_child(ChildHandle handle) { return static_cast<Child*>(handle); }

bool (*ctrl_handler)(uint32_t) = nullptr;
sigset_t ctrl_signals;
sigset_t mask_before_handler;
bool handler_registered = false;

// The child the event signals are passed on to. The lock keeps a signal
// from being sent while the child is reaped, so it never reaches a process
// that merely reuses the number.
pthread_mutex_t live_child_lock = PTHREAD_MUTEX_INITIALIZER;
pid_t live_child = 0;

// How the launcher should end: the signal whose event it is handling (set
// before the handler runs), the one that made it kill the child, and the
// one that ended the child by itself.
std::atomic<int> event_signal{0};
std::atomic<int> killed_child_on{0};
std::atomic<int> child_end_signal{0};

// A signal typed at the terminal or sent by a hang-up reaches the whole
// foreground process group, the child included, and comes from the kernel;
// one sent to the launcher alone (kill, a service manager) would never
// reach the child unless passed on.
void pass_on_to_child(const siginfo_t& info) {
    if (info.si_code == SI_KERNEL) return;
    pthread_mutex_lock(&live_child_lock);
    if (live_child != 0) system_calls.kill(live_child, info.si_signo);
    pthread_mutex_unlock(&live_child_lock);
}

// Ends the launcher by `signal_number`'s default action. The child has
// already left its own core file if the signal makes one.
void end_by_signal(int signal_number) {
    rlimit no_core = {0, 0};
    setrlimit(RLIMIT_CORE, &no_core);
    std::signal(signal_number, SIG_DFL);
    sigset_t one;
    sigemptyset(&one);
    sigaddset(&one, signal_number);
    pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
    raise(signal_number);
}

// Has the child ended? Fills `info` without reaping it.
bool peek_end(pid_t pid, siginfo_t* info, int flags) {
    for (;;) {
        info->si_pid = 0;
        if (system_calls.waitid(P_PID, static_cast<id_t>(pid), info, WEXITED | WNOWAIT | flags) == 0) return info->si_pid != 0;
        if (errno != EINTR) return false;
    }
}

uint64_t now_ms() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000 + static_cast<uint64_t>(now.tv_nsec) / 1000000;
}

char* to_native(const char16_t* text) {
    size_t units = 0;
    while (text[units] != 0) ++units;
    size_t capacity = 3 * units + 1;   // no unit takes more than three bytes
    char* out = static_cast<char*>(std::malloc(capacity));
    if (out != nullptr) utf16_to_native(text, out, capacity);
    return out;
}

void free_native(char** args, int count) {
    for (int i = 0; i < count; ++i) std::free(args[i]);
    std::free(args);
}

uint32_t event_for(int signal_number) {
    switch (signal_number) {
        case SIGINT:
            return ctrl_c_event;
        case SIGHUP:
            return ctrl_close_event;
        default:
            return ctrl_shutdown_event;
    }
}

void* ctrl_thread(void*) {
    for (;;) {
        siginfo_t info;
        int signal_number = sigwaitinfo(&ctrl_signals, &info);
        if (signal_number < 0) continue;
        pass_on_to_child(info);
        event_signal.store(signal_number);
        if (ctrl_handler(event_for(signal_number))) continue;
        // Passed on: the signal's default action, which ends the launcher.
        end_by_signal(signal_number);
    }
    return nullptr;
}

}  // namespace

ChildHandle os_start_child(const char16_t* application, const ChildCommand& command) {
    const int arg_count = command.count;
    char* path = to_native(application);
    char** argv = static_cast<char**>(std::calloc(static_cast<size_t>(arg_count) + 1, sizeof(char*)));
    Child* child = static_cast<Child*>(std::malloc(sizeof(Child)));
    bool ready = path != nullptr && argv != nullptr && child != nullptr;
    for (int i = 0; ready && i < arg_count; ++i) ready = (argv[i] = to_native(command.args[i])) != nullptr;
    int error = ready ? 0 : ENOMEM;

    // The launcher blocks its event signals for the handler's thread; the
    // child starts with the mask the launcher itself started with.
    posix_spawnattr_t attributes;
    if (error == 0) error = posix_spawnattr_init(&attributes);
    if (error == 0) {
        if (handler_registered) {
            posix_spawnattr_setsigmask(&attributes, &mask_before_handler);
            posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
        }
        // A signal passed on while the child starts must reach it, so the
        // child counts as live from its first instant.
        pthread_mutex_lock(&live_child_lock);
        error = system_calls.posix_spawn(&child->pid, path, nullptr, &attributes, argv, environ);
        if (error == 0) live_child = child->pid;
        pthread_mutex_unlock(&live_child_lock);
        posix_spawnattr_destroy(&attributes);
    }
    std::free(path);
    if (argv != nullptr) free_native(argv, arg_count);
    if (error != 0) {
        std::free(child);
        errno = error;
        return nullptr;
    }
    return child;
}

bool os_wait_child(ChildHandle handle, uint32_t timeout_ms) {
    pid_t pid = as_child(handle)->pid;
    siginfo_t info;
    if (timeout_ms == wait_forever) return peek_end(pid, &info, 0);
    uint64_t deadline = now_ms() + timeout_ms;
    for (;;) {
        if (peek_end(pid, &info, WNOHANG)) return true;
        uint64_t now = now_ms();
        if (now >= deadline) return false;
        uint64_t step = deadline - now < 10 ? deadline - now : 10;
        timespec pause = {0, static_cast<long>(step) * 1000000L};
        nanosleep(&pause, nullptr);
    }
}

// A child ended by a signal reports 128 plus the signal's number, as shells do.
bool os_child_exit_code(ChildHandle handle, uint32_t* code) {
    siginfo_t info;
    if (!peek_end(as_child(handle)->pid, &info, WNOHANG)) return false;
    if (info.si_code == CLD_EXITED) {
        *code = static_cast<uint32_t>(info.si_status) & 0xFF;
    } else {
        *code = 128 + static_cast<uint32_t>(info.si_status);
        child_end_signal.store(info.si_status);
    }
    return true;
}

// POSIX cannot choose the exit code of a killed process: it reports the
// signal instead. The launcher then ends by the signal it was handling.
void os_terminate_child(ChildHandle handle, uint32_t) {
    killed_child_on.store(event_signal.load());
    // Once reaped, the number may already name another process.
    pthread_mutex_lock(&live_child_lock);
    if (live_child == as_child(handle)->pid) system_calls.kill(live_child, SIGKILL);
    pthread_mutex_unlock(&live_child_lock);
}

void os_close_child(ChildHandle handle) {
    pthread_mutex_lock(&live_child_lock);
    if (live_child == as_child(handle)->pid) live_child = 0;
    int status = 0;
    system_calls.waitpid(as_child(handle)->pid, &status, WNOHANG);
    pthread_mutex_unlock(&live_child_lock);
    std::free(handle);
}

namespace {

// The main sequence returns only after the child has ended, but the handler
// that killed it may still hold its handle; the launcher reaps it here, or
// the dead child could outlive the launcher as an unreaped entry that a
// caller still finds under its process id.
void reap_ended_child() {
    pthread_mutex_lock(&live_child_lock);
    if (live_child != 0) {
        int status = 0;
        system_calls.waitpid(live_child, &status, WNOHANG);   // it has ended: this reaps it
        live_child = 0;
    }
    pthread_mutex_unlock(&live_child_lock);
}

}  // namespace

int launcher_exit_status(uint32_t code) {
    reap_ended_child();
    int signal_number = killed_child_on.load();
    if (signal_number == 0) signal_number = child_end_signal.load();
    // Should the signal's default action not end a process, the shells'
    // convention of 128 plus its number stands.
    if (signal_number != 0) end_by_signal(signal_number);
    return static_cast<int>(code);
}

bool os_add_ctrl_handler(bool (*handler)(uint32_t event)) {
    ctrl_handler = handler;
    sigemptyset(&ctrl_signals);
    sigaddset(&ctrl_signals, SIGINT);
    sigaddset(&ctrl_signals, SIGHUP);
    sigaddset(&ctrl_signals, SIGTERM);
    // Blocked here, on the main thread, before any other thread exists, so
    // that every thread inherits the block and only sigwait sees them.
    if (pthread_sigmask(SIG_BLOCK, &ctrl_signals, &mask_before_handler) != 0) return false;
    handler_registered = true;
    pthread_t thread;
    if (pthread_create(&thread, nullptr, ctrl_thread, nullptr) != 0) {
        pthread_sigmask(SIG_SETMASK, &mask_before_handler, nullptr);
        handler_registered = false;
        return false;
    }
    pthread_detach(thread);
    return true;
}

void os_hold_thread() {
    for (;;) pause();
}
