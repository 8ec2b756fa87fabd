/* Delivers a console control event the way the console would, to a launcher
 * and to the child it has started, without needing a console: a remote
 * thread at kernelbase's CtrlRoutine runs the process's registered handlers.
 *   console_event.exe APPLICATION COMMAND_LINE WAIT_FILE EVENT [CHILD_MARK]
 * Starts APPLICATION with COMMAND_LINE (as exit_code.exe does), waits until
 * WAIT_FILE exists (its last part may hold wildcards), looks for a child of
 * the launcher, delivers EVENT to the launcher and then to that child, and
 * waits for both to end. With
 * CHILD_MARK, a file the child's handler writes, the child gets the event
 * first and the launcher only once that file exists: a child that goes on
 * after the event has then seen it before the launcher's grace period starts,
 * however slowly its handler's thread is scheduled. Prints, one per
 * line: "launcher_pid=N", "child_pid=N" or "child=none", "delivered=1" (or
 * "delivered=0 error=N"), with a child "child_delivered=1" (or
 * "child_delivered=0 error=N"), "launcher_exit=N" and, with a child,
 * "child_exit=N". All numbers decimal. */
#include <windows.h>
#include <shellapi.h>
#include <tlhelp32.h>
#include <stdio.h>
#include <wchar.h>

static ULONGLONG creation_time(HANDLE process) {
    FILETIME created, ended, kernel, user;
    if (!GetProcessTimes(process, &created, &ended, &kernel, &user)) return 0;
    return (ULONGLONG)created.dwHighDateTime << 32 | created.dwLowDateTime;
}

/* Process ids are reused: a process whose parent has ended still names that
 * parent's id, which the launcher may have been given since (under Wine the
 * ids of the prefix's first programs come round again, and their services
 * live on). Only a process created after the launcher can be its child. */
static HANDLE find_child(HANDLE launcher, DWORD parent, DWORD *pid) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return NULL;
    ULONGLONG launcher_created = creation_time(launcher);
    PROCESSENTRY32W entry;
    entry.dwSize = sizeof entry;
    HANDLE child = NULL;
    for (BOOL more = Process32FirstW(snapshot, &entry); more && !child; more = Process32NextW(snapshot, &entry)) {
        if (entry.th32ParentProcessID != parent || entry.th32ProcessID == parent) continue;
        child = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_CREATE_THREAD |
                                PROCESS_VM_OPERATION | PROCESS_VM_WRITE | PROCESS_VM_READ,
                            FALSE, entry.th32ProcessID);
        if (child && creation_time(child) < launcher_created) {
            CloseHandle(child);
            child = NULL;
        }
        if (child) *pid = entry.th32ProcessID;
    }
    CloseHandle(snapshot);
    return child;
}

/* WAIT_FILE may end in a wildcard pattern, for names with a random part. */
static BOOL exists(const wchar_t *pattern) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(pattern, &found);
    if (search == INVALID_HANDLE_VALUE) return FALSE;
    FindClose(search);
    return TRUE;
}

static BOOL deliver(HANDLE process, LPTHREAD_START_ROUTINE routine, DWORD event) {
    HANDLE thread = CreateRemoteThread(process, NULL, 0, routine, (void *)(ULONG_PTR)event, 0, NULL);
    if (!thread) return FALSE;
    CloseHandle(thread);
    return TRUE;
}

/* With `mark`, returns once the child's handler has written it, or the child
 * has ended. */
static void deliver_to_child(HANDLE child, LPTHREAD_START_ROUTINE routine, DWORD event, const wchar_t *mark) {
    if (!deliver(child, routine, event)) {
        printf("child_delivered=0 error=%lu\n", (unsigned long)GetLastError());
        return;
    }
    printf("child_delivered=1\n");
    while (mark && GetFileAttributesW(mark) == INVALID_FILE_ATTRIBUTES) {
        if (WaitForSingleObject(child, 5) == WAIT_OBJECT_0) break;
    }
}

int wmain(void) {
    int count = 0;
    wchar_t **args = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!args || (count != 5 && count != 6)) {
        fprintf(stderr, "usage: console_event.exe APPLICATION COMMAND_LINE WAIT_FILE EVENT [CHILD_MARK]\n");
        return 64;
    }
    const wchar_t *child_mark = count == 6 ? args[5] : NULL;
    LPTHREAD_START_ROUTINE routine =
        (LPTHREAD_START_ROUTINE)GetProcAddress(GetModuleHandleW(L"kernelbase.dll"), "CtrlRoutine");
    if (!routine) {
        fprintf(stderr, "no CtrlRoutine in kernelbase.dll\n");
        return 65;
    }
    DWORD event = (DWORD)wcstoul(args[4], NULL, 0);

    STARTUPINFOW startup = {0};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION launcher = {0};
    const wchar_t *application = wcscmp(args[1], L"-") == 0 ? NULL : args[1];
    if (!CreateProcessW(application, args[2], NULL, NULL, TRUE, 0, NULL, NULL, &startup, &launcher)) {
        printf("start-error=%lu\n", (unsigned long)GetLastError());
        return 66;
    }
    CloseHandle(launcher.hThread);
    printf("launcher_pid=%lu\n", (unsigned long)launcher.dwProcessId);

    /* The condition comes from the test: a file the child or the unpacking
     * writes. A launcher that ends first leaves nothing to deliver to. */
    while (!exists(args[3])) {
        if (WaitForSingleObject(launcher.hProcess, 5) == WAIT_OBJECT_0) {
            printf("ended-before-condition\n");
            break;
        }
    }

    DWORD child_pid = 0;
    HANDLE child = find_child(launcher.hProcess, launcher.dwProcessId, &child_pid);
    if (child)
        printf("child_pid=%lu\n", (unsigned long)child_pid);
    else
        printf("child=none\n");

    BOOL child_first = child && child_mark;
    if (child_first) deliver_to_child(child, routine, event, child_mark);
    if (deliver(launcher.hProcess, routine, event))
        printf("delivered=1\n");
    else
        printf("delivered=0 error=%lu\n", (unsigned long)GetLastError());
    if (child && !child_first) deliver_to_child(child, routine, event, NULL);
    fflush(stdout);

    DWORD code = 0;
    WaitForSingleObject(launcher.hProcess, INFINITE);
    GetExitCodeProcess(launcher.hProcess, &code);
    printf("launcher_exit=%lu\n", (unsigned long)code);
    if (child) {
        WaitForSingleObject(child, INFINITE);
        GetExitCodeProcess(child, &code);
        printf("child_exit=%lu\n", (unsigned long)code);
    }
    return 0;
}
