// The real Win32 platform code meeting faults that the system seldom gives on
// demand: the table of system calls is pointed at hooks that fail or shorten
// chosen calls and pass every other call on to the system, against real files
// in a scratch directory. Run under Wine by tests/e2e/test_system_faults.py.
//   system_faults.exe SCRATCH_DIR
// Prints "ok NAME" or "FAIL NAME: what differed" per case, then "cases=N
// failed=M"; exits with 1 when a case failed.
#include <windows.h>

#include <cstdio>
#include <cwchar>

#include "platform/platform.h"
#include "platform/win32/system_calls.h"

namespace {

const SystemCalls real = system_calls;

// The next `calls` calls of a hooked kind fail with `error` (0: succeed and
// report `count` done, or, for waits and files, return `value`).
struct Fault {
    int calls;
    DWORD error;
    DWORD count;
    DWORD value;
};
Fault create_file_fault, write_fault, read_fault, file_type_fault, directory_fault, process_fault, wait_fault,
    exit_code_fault, mutex_fault, thread_fault;
int closes = 0;

bool take(Fault& fault) {
    if (fault.calls <= 0) return false;
    --fault.calls;
    return true;
}

HANDLE WINAPI create_file_hook(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                               DWORD disposition, DWORD flags, HANDLE model) {
    if (!take(create_file_fault)) return real.create_file(path, access, share, security, disposition, flags, model);
    SetLastError(create_file_fault.error);
    return INVALID_HANDLE_VALUE;
}

// A write that the system calls a success may still have written less.
BOOL WINAPI write_hook(HANDLE file, LPCVOID data, DWORD size, LPDWORD written, LPOVERLAPPED overlapped) {
    if (!take(write_fault)) return real.write_file(file, data, size, written, overlapped);
    if (write_fault.count > 0) real.write_file(file, data, write_fault.count, written, overlapped);
    else *written = 0;
    if (write_fault.error == 0) return TRUE;
    SetLastError(write_fault.error);
    return FALSE;
}

BOOL WINAPI read_hook(HANDLE file, LPVOID buffer, DWORD size, LPDWORD got, LPOVERLAPPED overlapped) {
    if (!take(read_fault)) return real.read_file(file, buffer, size, got, overlapped);
    if (read_fault.error == 0) return real.read_file(file, buffer, read_fault.count, got, overlapped);
    *got = 0;
    SetLastError(read_fault.error);
    return FALSE;
}

DWORD WINAPI file_type_hook(HANDLE file) {
    return take(file_type_fault) ? file_type_fault.value : real.get_file_type(file);
}

BOOL WINAPI close_hook(HANDLE handle) {
    ++closes;
    return real.close_handle(handle);
}

BOOL WINAPI directory_hook(LPCWSTR path, LPSECURITY_ATTRIBUTES security) {
    if (!take(directory_fault)) return real.create_directory(path, security);
    SetLastError(directory_fault.error);
    return FALSE;
}

BOOL WINAPI process_hook(LPCWSTR application, LPWSTR line, LPSECURITY_ATTRIBUTES process_security,
                         LPSECURITY_ATTRIBUTES thread_security, BOOL inherit, DWORD flags, LPVOID environment,
                         LPCWSTR directory, LPSTARTUPINFOW startup, LPPROCESS_INFORMATION info) {
    if (!take(process_fault))
        return real.create_process(application, line, process_security, thread_security, inherit, flags,
                                   environment, directory, startup, info);
    SetLastError(process_fault.error);
    return FALSE;
}

DWORD WINAPI wait_hook(HANDLE handle, DWORD timeout) {
    if (!take(wait_fault)) return real.wait_for_single_object(handle, timeout);
    if (wait_fault.value == WAIT_FAILED) SetLastError(wait_fault.error);
    return wait_fault.value;
}

BOOL WINAPI exit_code_hook(HANDLE process, LPDWORD code) {
    if (!take(exit_code_fault)) return real.get_exit_code_process(process, code);
    SetLastError(exit_code_fault.error);
    return FALSE;
}

HANDLE WINAPI mutex_hook(LPSECURITY_ATTRIBUTES security, BOOL owned, LPCWSTR name) {
    if (!take(mutex_fault)) return real.create_mutex(security, owned, name);
    SetLastError(mutex_fault.error);
    return nullptr;
}

HANDLE WINAPI thread_hook(LPSECURITY_ATTRIBUTES security, SIZE_T stack, LPTHREAD_START_ROUTINE body, LPVOID argument,
                          DWORD flags, LPDWORD id) {
    if (!take(thread_fault)) return real.create_thread(security, stack, body, argument, flags, id);
    SetLastError(thread_fault.error);
    return nullptr;
}

void reset() {
    create_file_fault = write_fault = read_fault = file_type_fault = directory_fault = process_fault = wait_fault =
        exit_code_fault = mutex_fault = thread_fault = Fault{};
    closes = 0;
    system_calls = real;
    system_calls.create_file = create_file_hook;
    system_calls.write_file = write_hook;
    system_calls.read_file = read_hook;
    system_calls.get_file_type = file_type_hook;
    system_calls.close_handle = close_hook;
    system_calls.create_directory = directory_hook;
    system_calls.create_process = process_hook;
    system_calls.wait_for_single_object = wait_hook;
    system_calls.get_exit_code_process = exit_code_hook;
    system_calls.create_mutex = mutex_hook;
    system_calls.create_thread = thread_hook;
}

// ---- reporting ------------------------------------------------------------

int cases = 0, failed = 0;
const char* current = "";
bool current_ok = true;

void start(const char* name) {
    reset();
    current = name;
    current_ok = true;
    ++cases;
}

void check(bool condition, const char* what, unsigned long got) {
    if (condition) return;
    if (current_ok) ++failed;
    current_ok = false;
    std::printf("FAIL %s: %s (got %lu)\n", current, what, got);
}

void finish() {
    if (current_ok) std::printf("ok %s\n", current);
    reset();
}

wchar_t scratch[MAX_PATH];

// A path in the scratch directory, as the logic passes it.
const char16_t* in_scratch(const wchar_t* name) {
    static wchar_t path[2 * MAX_PATH];
    std::swprintf(path, 2 * MAX_PATH, L"%ls\\%ls", scratch, name);
    return reinterpret_cast<const char16_t*>(path);
}

unsigned long size_of(const wchar_t* name) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(reinterpret_cast<const wchar_t*>(in_scratch(name)), GetFileExInfoStandard, &data))
        return 0xFFFFFFFF;
    return data.nFileSizeLow;
}

// ---- the cases ------------------------------------------------------------

const char data[] = "0123456789";

void writes() {
    // A write that reports success with fewer bytes passes the count on, so
    // that the launcher can call it the fault it is.
    struct {
        const char* name;
        Fault fault;
        bool ok;
        DWORD written, error;
    } const table[] = {
        {"write-short", {1, 0, 7, 0}, true, 7, 0},
        {"write-disk-full", {1, ERROR_DISK_FULL, 4, 0}, false, 4, ERROR_DISK_FULL},
        {"write-disk-full-at-once", {1, ERROR_HANDLE_DISK_FULL, 0, 0}, false, 0, ERROR_HANDLE_DISK_FULL},
        {"write-access-denied", {1, ERROR_ACCESS_DENIED, 0, 0}, false, 0, ERROR_ACCESS_DENIED},
    };
    for (const auto& c : table) {
        start(c.name);
        FileHandle file = os_open_for_write(in_scratch(L"out"));
        check(file != nullptr, "the file opens", 0);
        if (file == nullptr) {
            finish();
            continue;
        }
        write_fault = c.fault;
        uint32_t written = 0xDEAD;
        bool ok = os_write_file(file, data, 10, &written);
        check(ok == c.ok, "the write's result", ok);
        check(written == c.written, "the count written", written);
        if (!c.ok) check(os_last_error() == c.error, "the system's reason", os_last_error());
        os_close_file(file);
        check(size_of(L"out") == c.written, "what is on disk", size_of(L"out"));
        finish();
    }
}

void opens() {
    struct {
        const char* name;
        DWORD error;
        bool in_use;
    } const table[] = {
        {"open-access-denied", ERROR_ACCESS_DENIED, false},
        {"open-sharing-violation", ERROR_SHARING_VIOLATION, true},
        {"open-lock-violation", ERROR_LOCK_VIOLATION, true},
        {"open-user-mapped-file", ERROR_USER_MAPPED_FILE, true},
        {"open-disk-full", ERROR_DISK_FULL, false},
        {"open-path-not-found", ERROR_PATH_NOT_FOUND, false},
    };
    for (const auto& c : table) {
        start(c.name);
        create_file_fault = {1, c.error, 0, 0};
        FileHandle file = os_open_for_write(in_scratch(L"held"));
        check(file == nullptr, "no handle", 0);
        check(os_last_error() == c.error, "the system's reason", os_last_error());
        check(os_in_use_error(os_last_error()) == c.in_use, "counted as in use", os_in_use_error(os_last_error()));
        check(closes == 0, "nothing to close", closes);
        finish();
    }
}

void reads() {
    FileHandle file = os_open_for_write(in_scratch(L"checked"));
    uint32_t written = 0;
    if (file != nullptr) {
        os_write_file(file, data, 10, &written);
        os_close_file(file);
    }
    struct {
        const char* name;
        Fault open, type, read;
        bool opened, ok;
        DWORD got;
    } const table[] = {
        {"read-short", {}, {}, {1, 0, 3, 0}, true, true, 3},
        {"read-device-error", {}, {}, {1, ERROR_CRC, 0, 0}, true, false, 0},
        {"read-open-access-denied", {1, ERROR_ACCESS_DENIED, 0, 0}, {}, {}, false, false, 0},
        {"read-open-sharing-violation", {1, ERROR_SHARING_VIOLATION, 0, 0}, {}, {}, false, false, 0},
        // A name that answers as a pipe or a device is not a file to check.
        {"read-not-a-disk-file", {}, {1, 0, 0, FILE_TYPE_PIPE}, {}, false, false, 0},
    };
    for (const auto& c : table) {
        start(c.name);
        create_file_fault = c.open;
        file_type_fault = c.type;
        read_fault = c.read;
        ReadHandle reader = os_open_for_read(in_scratch(L"checked"));
        check((reader != nullptr) == c.opened, "opened", reader != nullptr);
        // A handle opened and then refused is closed once.
        if (reader == nullptr) check(closes == (c.type.calls > 0 ? 1 : 0), "closes", closes);
        if (reader != nullptr) {
            char buffer[64] = {};
            uint32_t got = 0xDEAD;
            bool ok = os_read_file(reader, buffer, sizeof buffer, &got);
            check(ok == c.ok, "the read's result", ok);
            check(got == c.got, "the count read", got);
            os_close_read(reader);
        }
        finish();
    }
}

void directories() {
    struct {
        const char* name;
        const wchar_t* dir;
        DWORD error;
        DirResult result;
    } const table[] = {
        {"dir-access-denied", L"d1", ERROR_ACCESS_DENIED, DirResult::failed},
        {"dir-path-not-found", L"d2", ERROR_PATH_NOT_FOUND, DirResult::failed},
        {"dir-disk-full", L"d3", ERROR_DISK_FULL, DirResult::failed},
        {"dir-already-exists", L"d4", ERROR_ALREADY_EXISTS, DirResult::already_exists},
        {"dir-created", L"d5", 0, DirResult::created},
    };
    for (const auto& c : table) {
        start(c.name);
        if (c.error != 0) directory_fault = {1, c.error, 0, 0};
        DirResult result = os_create_dir(in_scratch(c.dir));
        check(result == c.result, "the result", static_cast<unsigned long>(result));
        DWORD attributes = GetFileAttributesW(reinterpret_cast<const wchar_t*>(in_scratch(c.dir)));
        check((attributes != INVALID_FILE_ATTRIBUTES) == (c.result == DirResult::created), "made on disk",
              attributes);
        finish();
    }
}

void child_starts() {
    const DWORD errors[] = {ERROR_BAD_EXE_FORMAT, ERROR_ACCESS_DENIED, ERROR_FILE_NOT_FOUND, ERROR_NOT_ENOUGH_MEMORY};
    for (DWORD error : errors) {
        char name[48];
        std::snprintf(name, sizeof name, "start-fails-%lu", static_cast<unsigned long>(error));
        start(name);
        process_fault = {1, error, 0, 0};
        wchar_t line[] = L"child";
        ChildHandle child = os_start_child(u"C:\\windows\\system32\\cmd.exe",
                                           ChildCommand{reinterpret_cast<char16_t*>(line)});
        check(child == nullptr, "no child", 0);
        check(os_last_error() == error, "the system's reason", os_last_error());
        check(closes == 0, "no handle closed", closes);
        finish();
    }
}

void child_waits() {
    // The process's own pseudo-handle stands in for a child: every wait on it
    // is the hook's.
    ChildHandle child = GetCurrentProcess();
    struct {
        const char* name;
        DWORD result;
        bool ended;
    } const table[] = {
        {"wait-fails", WAIT_FAILED, false},
        {"wait-times-out", WAIT_TIMEOUT, false},
        {"wait-ends", WAIT_OBJECT_0, true},
    };
    for (const auto& c : table) {
        start(c.name);
        wait_fault = {1, ERROR_INVALID_HANDLE, 0, c.result};
        bool ended = os_wait_child(child, wait_forever);
        check(ended == c.ended, "the child counts as ended", ended);
        finish();
    }
    start("exit-code-unreadable");
    exit_code_fault = {1, ERROR_ACCESS_DENIED, 0, 0};
    uint32_t code = 0xDEAD;
    check(!os_child_exit_code(child, &code), "no exit code", code);
    check(code == 0xDEAD, "the code is left alone", code);
    finish();
}

void locks() {
    struct {
        const char* name;
        Fault mutex, wait;
        LockResult result;
        int closes;
    } const table[] = {
        {"lock-wait-fails", {}, {1, ERROR_INVALID_HANDLE, 0, WAIT_FAILED}, LockResult::failed, 1},
        {"lock-held-elsewhere", {}, {1, 0, 0, WAIT_TIMEOUT}, LockResult::timed_out, 1},
        // Its last holder ended without letting it go: the lock is this one's.
        {"lock-abandoned", {}, {1, 0, 0, WAIT_ABANDONED}, LockResult::acquired, 0},
        {"lock-cannot-be-made", {1, ERROR_ACCESS_DENIED, 0, 0}, {}, LockResult::failed, 0},
    };
    for (const auto& c : table) {
        start(c.name);
        mutex_fault = c.mutex;
        wait_fault = c.wait;
        DirLock lock = nullptr;
        LockResult result = os_lock_dir(u"C:\\unused", u"zembra-system-faults", 0, &lock);
        check(result == c.result, "the result", static_cast<unsigned long>(result));
        check((lock != nullptr) == (c.result == LockResult::acquired), "a lock only when acquired", lock != nullptr);
        check(closes == c.closes, "handles closed", closes);
        if (lock != nullptr) os_unlock_dir(lock);
        finish();
    }
}

void count_run(void* runs) { ++*static_cast<int*>(runs); }

void threads() {
    start("thread-cannot-be-started");
    int runs = 0;
    thread_fault = {1, ERROR_NOT_ENOUGH_MEMORY, 0, 0};
    check(os_start_thread(count_run, &runs) == nullptr, "no thread", 0);
    ThreadHandle thread = os_start_thread(count_run, &runs);
    check(thread != nullptr, "the next one starts", 0);
    if (thread != nullptr) os_join_thread(thread);
    check(runs == 1, "only the started one ran", runs);
    finish();
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: system_faults.exe SCRATCH_DIR\n");
        return 64;
    }
    std::swprintf(scratch, MAX_PATH, L"%ls", argv[1]);
    writes();
    opens();
    reads();
    directories();
    child_starts();
    child_waits();
    locks();
    threads();
    std::printf("cases=%d failed=%d\n", cases, failed);
    return failed == 0 ? 0 : 1;
}
