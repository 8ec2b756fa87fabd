// The system calls through which the Win32 platform layer reads and writes
// files, makes directories, takes the unpack lock, starts threads and starts
// and waits for the child: one table, so that a test can put a fault in the
// real code's way (a full disk, a sharing violation, a wait that fails) that
// the system seldom gives on demand. The launcher never changes it; each
// entry is the system's own function, and the call through it costs one
// indirect jump. A hook reports its failure as the system does, through
// SetLastError.
#pragma once

#include <windows.h>

struct SystemCalls {
    HANDLE(WINAPI* create_file)(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
    BOOL(WINAPI* write_file)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);
    BOOL(WINAPI* read_file)(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED);
    DWORD(WINAPI* get_file_type)(HANDLE);
    BOOL(WINAPI* close_handle)(HANDLE);
    BOOL(WINAPI* create_directory)(LPCWSTR, LPSECURITY_ATTRIBUTES);
    BOOL(WINAPI* create_process)(LPCWSTR, LPWSTR, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES, BOOL, DWORD, LPVOID,
                                 LPCWSTR, LPSTARTUPINFOW, LPPROCESS_INFORMATION);
    DWORD(WINAPI* wait_for_single_object)(HANDLE, DWORD);
    BOOL(WINAPI* get_exit_code_process)(HANDLE, LPDWORD);
    BOOL(WINAPI* terminate_process)(HANDLE, UINT);
    HANDLE(WINAPI* create_mutex)(LPSECURITY_ATTRIBUTES, BOOL, LPCWSTR);
    BOOL(WINAPI* release_mutex)(HANDLE);
    HANDLE(WINAPI* create_thread)(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE, LPVOID, DWORD, LPDWORD);
};

extern SystemCalls system_calls;
