/* Holds a named mutex the way a launcher holds its unpack lock, and then does
 * nothing, as a launcher that stalled would:
 *   hold_mutex.exe NAME
 * Prints "held" once it owns the mutex and keeps it until its standard input
 * ends; exits 0 then, 65 when the mutex cannot be had. */
#include <windows.h>
#include <stdio.h>

int wmain(int argc, wchar_t **argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: hold_mutex.exe NAME\n");
        return 64;
    }
    HANDLE mutex = CreateMutexW(NULL, TRUE, argv[1]);
    if (!mutex || GetLastError() == ERROR_ALREADY_EXISTS) {
        printf("error=%lu\n", (unsigned long)GetLastError());
        return 65;
    }
    printf("held\n");
    fflush(stdout);
    while (getchar() != EOF) {
    }
    ReleaseMutex(mutex);
    return 0;
}
