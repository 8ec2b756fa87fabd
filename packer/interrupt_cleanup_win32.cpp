#include "interrupt_cleanup.h"

#include <windows.h>

#include <string>

#include "host.h"
#include "host_win32.h"

namespace {

// The exit status of a console program ended by Ctrl+C.
const UINT interrupted_status = 0xC000013A;

struct Slot {
    std::string path;
    bool is_directory = false;
    bool used = false;
};

// The handler runs on a thread of its own, so the slots are guarded; it
// takes the lock and keeps it, and so waits for a registration under way.
CRITICAL_SECTION lock;
Slot slots[8];

BOOL WINAPI on_console_event(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT &&
        event != CTRL_LOGOFF_EVENT && event != CTRL_SHUTDOWN_EVENT) {
        return FALSE;
    }
    EnterCriticalSection(&lock);
    // From here every file operation of the other threads that fails waits
    // for the end instead of reporting it; closing the files makes them fail.
    interrupt_in_progress.store(true);
    close_all_files();
    for (Slot& slot : slots) {
        if (!slot.used) continue;
        if (slot.is_directory) {
            remove_tree(slot.path);
        } else {
            const std::wstring name = system_path(slot.path);
            DeleteFileW(name.c_str());
        }
    }
    TerminateProcess(GetCurrentProcess(), interrupted_status);
    return TRUE;
}

}  // namespace

InterruptsHeld::InterruptsHeld() { EnterCriticalSection(&lock); }

InterruptsHeld::~InterruptsHeld() { LeaveCriticalSection(&lock); }

void install_interrupt_cleanup() {
    InitializeCriticalSection(&lock);
    SetConsoleCtrlHandler(on_console_event, TRUE);
}

void remove_on_interrupt(const std::string& path, bool is_directory) {
    EnterCriticalSection(&lock);
    for (Slot& slot : slots) {
        if (slot.used) continue;
        slot.path = path;
        slot.is_directory = is_directory;
        slot.used = true;
        break;
    }
    LeaveCriticalSection(&lock);
}

void keep_on_interrupt(const std::string& path) {
    EnterCriticalSection(&lock);
    for (Slot& slot : slots) {
        if (slot.used && slot.path == path) slot.used = false;
    }
    LeaveCriticalSection(&lock);
}
