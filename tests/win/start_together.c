/* Starts several copies of one command line at the same moment: each is
 * created suspended, and all are resumed together once all exist.
 *   start_together.exe COUNT COMMAND_LINE [APPLICATION]
 * COMMAND_LINE is passed exactly as given; "@PATH" stands for the UTF-8 text
 * of the file PATH, for lines too long to pass through this program's own.
 * APPLICATION, when given, is the program to start (else the system takes it
 * from the command line). The programs inherit this one's standard handles.
 * When all have ended, prints "exit[I]=N" for each, in the order they were
 * created, and exits 0; "start-error=N" and exit 65 when one cannot be
 * created (those already made are ended). */
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
    if (!args || count < 3 || count > 4) {
        fprintf(stderr, "usage: start_together.exe COUNT COMMAND_LINE [APPLICATION]\n");
        return 64;
    }
    const wchar_t *application = count == 4 ? args[3] : NULL;
    wchar_t *command_line = args[2];
    if (command_line[0] == L'@') {
        FILE *f = _wfopen(command_line + 1, L"rb");
        static char text[4 * 65536];
        size_t n = f ? fread(text, 1, sizeof text - 1, f) : 0;
        if (f) fclose(f);
        text[n] = 0;
        static wchar_t wide[65536 + 1];
        if (!f || !MultiByteToWideChar(CP_UTF8, 0, text, -1, wide, 65537)) {
            fprintf(stderr, "cannot read %ls\n", command_line + 1);
            return 64;
        }
        command_line = wide;
    }
    int programs = _wtoi(args[1]);
    if (programs < 1 || programs > MAX_PROGRAMS) {
        fprintf(stderr, "COUNT must be 1 to %d\n", MAX_PROGRAMS);
        return 64;
    }
    PROCESS_INFORMATION started[MAX_PROGRAMS];
    size_t line_size = (wcslen(command_line) + 1) * sizeof(wchar_t);
    for (int i = 0; i < programs; ++i) {
        STARTUPINFOW startup = {0};
        startup.cb = sizeof startup;
        wchar_t *line = malloc(line_size);   /* CreateProcessW may write into it */
        memcpy(line, command_line, line_size);
        if (!CreateProcessW(application, line, NULL, NULL, TRUE, CREATE_SUSPENDED, NULL, NULL, &startup, &started[i])) {
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
