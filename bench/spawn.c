/* The floor of any launcher of this design: a program that starts the
 * trivial program beside it and waits for it, nothing else. A launcher is one
 * process more than the application it starts, so this, not the trivial
 * program alone, is what a tiny application's start cannot get below.
 * Built for Windows and for Linux.
 *   spawn          starts `trivial.exe` (Windows) or `trivial` (Linux) from
 *                  the folder this program is in, and exits with its code */
#ifdef _WIN32
#include <windows.h>
#include <wchar.h>

int main(void) {
    wchar_t path[MAX_PATH + 16];
    DWORD length = GetModuleFileNameW(NULL, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return 1;
    wchar_t *slash = wcsrchr(path, L'\\');
    wcscpy(slash ? slash + 1 : path, L"trivial.exe");
    STARTUPINFOW startup = {sizeof startup};
    PROCESS_INFORMATION child;
    if (!CreateProcessW(path, NULL, NULL, NULL, TRUE, 0, NULL, NULL, &startup, &child)) return 1;
    DWORD code = 1;
    WaitForSingleObject(child.hProcess, INFINITE);
    GetExitCodeProcess(child.hProcess, &code);
    return (int)code;
}
#else
#include <limits.h>
#include <spawn.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

int main(void) {
    char path[PATH_MAX + 16];
    ssize_t length = readlink("/proc/self/exe", path, PATH_MAX);
    if (length <= 0) return 1;
    path[length] = '\0';
    char *slash = strrchr(path, '/');
    strcpy(slash ? slash + 1 : path, "trivial");
    char *argv[] = {path, NULL};
    pid_t pid;
    int status;
    if (posix_spawn(&pid, path, NULL, NULL, argv, environ) != 0) return 1;
    if (waitpid(pid, &status, 0) != pid) return 1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}
#endif
