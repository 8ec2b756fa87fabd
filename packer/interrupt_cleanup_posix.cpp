#include "interrupt_cleanup.h"

#include <limits.h>
#include <pthread.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

namespace {

// Fixed slots, so the handler reads only memory that is never reallocated.
struct Slot {
    char path[PATH_MAX];
    bool is_directory;
    std::atomic<bool> used{false};
};

Slot slots[8];
const int handled_signals[] = {SIGINT, SIGTERM, SIGHUP};
sigset_t saved_mask;   // while held

void on_signal(int number) {
    for (Slot& slot : slots) {
        if (!slot.used.load()) continue;
        if (!slot.is_directory) {
            unlink(slot.path);
            continue;
        }
        pid_t child = fork();
        if (child == 0) {
            execl("/bin/rm", "rm", "-rf", "--", slot.path, static_cast<char*>(nullptr));
            _exit(127);
        }
        if (child > 0) waitpid(child, nullptr, 0);
    }
    signal(number, SIG_DFL);
    raise(number);
}

}  // namespace

InterruptsHeld::InterruptsHeld() {
    sigset_t held;
    sigemptyset(&held);
    for (int number : handled_signals) sigaddset(&held, number);
    pthread_sigmask(SIG_BLOCK, &held, &saved_mask);
}

// A signal that came meanwhile is delivered here, with the path registered.
InterruptsHeld::~InterruptsHeld() { pthread_sigmask(SIG_SETMASK, &saved_mask, nullptr); }

void install_interrupt_cleanup() {
    for (int number : handled_signals) {
        struct sigaction action;
        std::memset(&action, 0, sizeof action);
        action.sa_handler = on_signal;
        sigemptyset(&action.sa_mask);
        for (int other : handled_signals) sigaddset(&action.sa_mask, other);
        sigaction(number, &action, nullptr);
    }
}

void remove_on_interrupt(const std::string& path, bool is_directory) {
    if (path.size() >= PATH_MAX) return;
    for (Slot& slot : slots) {
        if (slot.used.load()) continue;
        std::memcpy(slot.path, path.c_str(), path.size() + 1);
        slot.is_directory = is_directory;
        slot.used.store(true);
        return;
    }
}

void keep_on_interrupt(const std::string& path) {
    for (Slot& slot : slots) {
        if (slot.used.load() && path == slot.path) slot.used.store(false);
    }
}
