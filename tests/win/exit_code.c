/* Starts a program and reports its full 32-bit exit code, which a Unix shell
 * under Wine would cut to 8 bits.
 *   exit_code.exe [--detached] APPLICATION COMMAND_LINE
 * APPLICATION is the program to start ("-": none, the system takes it from
 * COMMAND_LINE); COMMAND_LINE is passed to the program exactly as given, so a
 * test controls every character of it, argument 0 included. The program
 * inherits this one's standard handles. With --detached it starts without a
 * console, as a program started from the desktop does, and is handed this
 * one's standard handles explicitly: a console program it starts in turn then
 * gets a console of its own, whose handles replace any it is not handed. Prints "pid=N" once it runs and
 * "exit=N" (decimal) when it has ended; "start-error=N" when it cannot be
 * started. */
#include <windows.h>
#include <shellapi.h>
#include <stdio.h>
#include <wchar.h>

int wmain(void) {
    int count = 0;
    wchar_t **args = CommandLineToArgvW(GetCommandLineW(), &count);
    int detached = args && count == 4 && wcscmp(args[1], L"--detached") == 0;
    if (!args || count != 3 + detached) {
        fprintf(stderr, "usage: exit_code.exe [--detached] APPLICATION COMMAND_LINE\n");
        return 64;
    }
    const wchar_t *application = wcscmp(args[1 + detached], L"-") == 0 ? NULL : args[1 + detached];
    STARTUPINFOW startup = {0};
    startup.cb = sizeof startup;
    if (detached) {
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
        startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    }
    PROCESS_INFORMATION process = {0};
    if (!CreateProcessW(application, args[2 + detached], NULL, NULL, TRUE, detached ? DETACHED_PROCESS : 0, NULL,
                        NULL, &startup, &process)) {
        printf("start-error=%lu\n", (unsigned long)GetLastError());
        return 65;
    }
    CloseHandle(process.hThread);
    printf("pid=%lu\n", (unsigned long)process.dwProcessId);
    fflush(stdout);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    if (!GetExitCodeProcess(process.hProcess, &code)) {
        printf("exit-error=%lu\n", (unsigned long)GetLastError());
        return 66;
    }
    printf("exit=%lu\n", (unsigned long)code);
    return 0;
}
