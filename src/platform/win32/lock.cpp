// The unpack lock on Windows: a named mutex in the session's namespace.
// Mutexes die with their last handle, so nothing is left behind, and one
// held by a launcher that was killed is handed on as abandoned.
#include <windows.h>

#include "platform/platform.h"
#include "platform/win32/system_calls.h"

LockResult os_lock_dir(const char16_t*, const char16_t* key, uint32_t timeout_ms, DirLock* lock) {
    wchar_t name[96] = L"Local\\";
    size_t n = 6;
    for (; *key != 0 && n + 1 < sizeof name / sizeof name[0]; ++key) name[n++] = static_cast<wchar_t>(*key);
    name[n] = 0;
    // Not inheritable: the child never holds the lock.
    HANDLE mutex = system_calls.create_mutex(nullptr, FALSE, name);
    if (mutex == nullptr) return LockResult::failed;
    DWORD result = system_calls.wait_for_single_object(mutex, timeout_ms);
    if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED) {
        *lock = mutex;
        return LockResult::acquired;
    }
    system_calls.close_handle(mutex);
    return result == WAIT_TIMEOUT ? LockResult::timed_out : LockResult::failed;
}

void os_unlock_dir(DirLock lock) {
    system_calls.release_mutex(static_cast<HANDLE>(lock));
    system_calls.close_handle(static_cast<HANDLE>(lock));
}

bool os_in_use_error(uint32_t code) {
    return code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION || code == ERROR_USER_MAPPED_FILE;
}

void os_sleep(uint32_t milliseconds) { Sleep(milliseconds); }
