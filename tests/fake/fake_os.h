// A fake operating system for the unit tests: it answers every platform
// call from the state below, records what was asked, and injects failures.
// Paths are compared exactly, as UTF-16 text with backslash separators.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"

struct FakeChild {
    std::map<std::u16string, std::u16string> env;   // the environment it started with
    std::u16string application;
    std::u16string command_line;
    bool ends_in_time = true;        // answers a timed wait with "ended"
    bool exit_code_readable = true;
    bool wait_fails = false;         // every wait fails, as a broken handle's would
    uint32_t exit_code = 0;
    std::optional<uint32_t> terminated_with;
    int closes = 0;
    int waits = 0;
};

struct FakeOs {
    // start-up
    std::vector<std::u16string> runtime_args{u"app"};
    std::vector<std::u16string> command_line_args{u"app"};
    bool split_fails = false;
    int dll_restrictions = 0;

    // environment
    std::map<std::u16string, std::u16string> env;

    // identity and time
    uint32_t pid = 4242;
    uint64_t system_time = 134000000000000000ull;
    uint64_t counter = 123456789;
    int system_time_reads = 0;

    // paths
    std::optional<std::u16string> module_path = u"C:\\Apps\\Tool.exe";
    int module_path_calls = 0;
    std::optional<std::u16string> temp_dir = u"C:\\Users\\user\\AppData\\Local\\Temp\\";
    std::optional<std::u16string> profile = u"C:\\Users\\user";
    std::optional<std::u16string> local_app_data = u"C:\\Users\\user\\AppData\\Local";
    int known_folder_calls = 0;
    bool full_path_fails = false;   // otherwise the path is returned unchanged

    // files: a path names a file, a directory, or nothing; "X:" drives exist
    std::map<std::u16string, std::string> files;
    std::set<std::u16string> dirs{u"C:\\Users", u"C:\\Users\\user"};
    std::set<std::u16string> create_dir_fails;    // paths whose creation fails (error 5)
    std::set<std::u16string> open_fails;          // paths whose open for writing fails (error 5)
    std::set<std::u16string> unreadable;          // paths that cannot be opened for reading
    // Existing files whose bytes lie in memory the test owns (too large for
    // `files`); they can be read, not written.
    struct MemoryFile {
        const unsigned char* data;
        uint64_t size;
    };
    std::map<std::u16string, MemoryFile> memory_files;
    int open_reads = 0;            // files open for reading
    std::vector<uint32_t> read_sizes;   // the capacity of every os_read_file, in order
    int fail_write_at = -1;        // the n-th write (0-based) fails with write_error
    int short_write_at = -1;       // the n-th write reports one byte fewer, without failing
    uint32_t write_error = 112;    // ERROR_DISK_FULL
    std::vector<std::u16string> created_dirs;     // every os_create_dir call, in order
    std::vector<std::u16string> opened_for_write; // every successful open, in order
    int writes = 0;
    int open_handles = 0;
    // every os_release_pages call, in order: start and size
    std::vector<std::pair<const unsigned char*, uint64_t>> released;
    uint32_t last_error = 0;
    std::map<uint32_t, std::string> error_texts{{5, "Access is denied.\r\n"},
                                                {29, "The system cannot write to the specified device.\r\n"},
                                                {112, "There is not enough space on the disk.\r\n"}};

    // the child
    bool start_fails = false;
    uint32_t start_error = 2;
    std::vector<FakeChild> children;
    bool (*ctrl_handler)(uint32_t) = nullptr;
    bool add_ctrl_handler_fails = false;
    int holds = 0;   // os_hold_thread calls; the fake returns from them at once
    // Runs inside a successful os_start_child, before the child exists: the
    // moment at which a test asks the logic what it holds.
    std::function<void()> on_start;
    // Runs at the start of every os_wait_child (child, timeout), so that a
    // test can deliver an event while a wait is in progress.
    std::function<void(ChildHandle, uint32_t)> on_wait;

    // the unpack lock
    std::vector<std::u16string> lock_dirs;   // every os_lock_dir call, in order
    std::vector<std::u16string> lock_keys;
    std::vector<uint32_t> lock_timeouts;   // the bound of every wait
    // At each os_lock_dir: whether its directory existed, and how many
    // files had been opened for writing before it.
    std::vector<bool> lock_dir_existed;
    std::vector<size_t> opened_before_lock;
    bool lock_fails = false;
    bool lock_times_out = false;   // another launcher holds it past the bound
    int locks_held = 0;
    // Runs inside os_lock_dir before it returns: the moment another
    // launcher that held the lock finishes its work.
    std::function<void()> on_lock;
    // Opens for writing of these paths fail with a sharing violation (32)
    // this many times before they succeed: another process has the file open.
    std::map<std::u16string, int> in_use;
    std::vector<uint32_t> sleeps;   // every os_sleep, in milliseconds

    // threads: a started thread runs its body at once, to its end, on the
    // starting thread, so that every run is the same
    uint32_t processors = 2;
    bool thread_start_fails = false;
    int threads_started = 0;
    int threads_joined = 0;
};

// The one fake, reset to the defaults above by fake_reset().
FakeOs& fake_os();
void fake_reset();

// What the end of a process does: its open files, views and lock are
// released; files and directories stay for the next start.
void fake_process_end();

bool fake_is_dir(const std::u16string& path);
