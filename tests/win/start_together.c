/* Starts several copies of one command line at the same moment: each is
 * created suspended, and all are resumed together once all exist.
 *   start_together.exe COUNT COMMAND_LINE
 * The programs inherit this one's standard handles. When all have ended,
 * prints "exit[I]=N" for each, in the order they were created, and exits 0;
 * "start-error=N" and exit 65 when one cannot be created (those already made
 * are ended). */
#include <windows.h>
#include <shellapi.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#define MAX_PROGRAMS 64

int wmain(void) {
    int count = 0;
    wchar_t **args = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!args || count != 3) {
        fprintf(stderr, "usage: start_together.exe COUNT COMMAND_LINE\n");
        return 64;
    }
    int programs = _wtoi(args[1]);
    if (programs < 1 || programs > MAX_PROGRAMS) {
        fprintf(stderr, "COUNT must be 1 to %d\n", MAX_PROGRAMS);
        return 64;
    }
    PROCESS_INFORMATION started[MAX_PROGRAMS];
    size_t line_size = (wcslen(args[2]) + 1) * sizeof(wchar_t);
    for (int i = 0; i < programs; ++i) {
        STARTUPINFOW startup = {0};
        startup.cb = sizeof startup;
        wchar_t *line = malloc(line_size);   /* CreateProcessW may write into it */
        memcpy(line, args[2], line_size);
        if (!CreateProcessW(NULL, line, NULL, NULL, TRUE, CREATE_SUSPENDED, NULL, NULL, &startup, &started[i])) {
            printf("start-error=%lu\n", (unsigned long)GetLastError());
            for (int j = 0; j < i; ++j) TerminateProcess(started[j].hProcess, 1);
            return 65;
        }
    }
    for (int i = 0; i < programs; ++i) ResumeThread(started[i].hThread);
    for (int i = 0; i < programs; ++i) {
        WaitForSingleObject(started[i].hProcess, INFINITE);
        DWORD code = 0;
        if (!GetExitCodeProcess(started[i].hProcess, &code)) code = 0xFFFFFFFF;
        printf("exit[%d]=%lu\n", i, (unsigned long)code);
    }
    return 0;
}
