/* A child for the end-to-end tests: reports what it received from whoever
 * started it, as one line of JSON (ASCII, \u escapes), on standard output or
 * into the file named by PROBE_OUT. Optional behaviour, from the environment:
 *   PROBE_OUT=path          write the report there (whole, by renaming a
 *                           temporary file) instead of to standard output
 *   PROBE_READ_STDIN=1      include the first bytes read from standard input
 *   PROBE_WRITE_STREAMS=1   write "probe-stdout" / "probe-stderr" lines to the
 *                           standard handles
 *   PROBE_ON_EVENT=ignore   console control events are handled (TRUE)
 *   PROBE_ON_EVENT=exit:N   console control events end the probe with N
 *   PROBE_EVENT_MARK=path   a console control event writes its code there
 *   PROBE_SLEEP_MS=N        sleep after reporting
 *   PROBE_EXIT=N            exit code (all 32 bits; 0x... accepted) */
#include <windows.h>
#include <shellapi.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

typedef struct {
    char *data;
    size_t length, capacity;
} Text;

static void put(Text *t, const char *s) {
    size_t n = strlen(s);
    if (t->length + n + 1 > t->capacity) {
        t->capacity = (t->length + n + 1) * 2;
        t->data = realloc(t->data, t->capacity);
        if (!t->data) ExitProcess(99);
    }
    memcpy(t->data + t->length, s, n + 1);
    t->length += n;
}

static void put_string(Text *t, const wchar_t *s) {
    if (!s) {
        put(t, "null");
        return;
    }
    put(t, "\"");
    for (; *s; ++s) {
        char one[8];
        if (*s == L'"' || *s == L'\\') {
            one[0] = '\\', one[1] = (char)*s, one[2] = 0;
        } else if (*s >= 0x20 && *s < 0x7F) {
            one[0] = (char)*s, one[1] = 0;
        } else {
            snprintf(one, sizeof one, "\\u%04x", (unsigned)*s);
        }
        put(t, one);
    }
    put(t, "\"");
}

/* A copy of the variable's value that stays valid; null when unset or empty. */
static wchar_t *env(const wchar_t *name) {
    static wchar_t value[32768];
    DWORD n = GetEnvironmentVariableW(name, value, 32768);
    return n == 0 || n >= 32768 ? NULL : _wcsdup(value);
}

static const char *type_name(HANDLE h) {
    switch (GetFileType(h)) {
        case FILE_TYPE_DISK: return "disk";
        case FILE_TYPE_CHAR: return "char";
        case FILE_TYPE_PIPE: return "pipe";
        default: return "unknown";
    }
}

static void put_handle(Text *t, const char *name, DWORD which) {
    HANDLE h = GetStdHandle(which);
    char line[128];
    int valid = h != NULL && h != INVALID_HANDLE_VALUE;
    snprintf(line, sizeof line, "\"%s\": {\"valid\": %s, \"type\": \"%s\"}", name, valid ? "true" : "false",
             valid ? type_name(h) : "none");
    put(t, line);
}

static void write_line(DWORD which, const char *text) {
    DWORD written;
    WriteFile(GetStdHandle(which), text, (DWORD)strlen(text), &written, NULL);
}

static int event_mode;          /* 0: default handling, 1: ignore, 2: exit */
static UINT event_exit_code;
static wchar_t *event_mark;

static BOOL WINAPI on_event(DWORD event) {
    if (event_mark) {
        HANDLE f = CreateFileW(event_mark, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
        if (f != INVALID_HANDLE_VALUE) {
            char text[16];
            DWORD written;
            snprintf(text, sizeof text, "%lu", (unsigned long)event);
            WriteFile(f, text, (DWORD)strlen(text), &written, NULL);
            CloseHandle(f);
        }
    }
    if (event_mode == 2) ExitProcess(event_exit_code);
    return event_mode == 1;
}

static void report(const wchar_t *path, const Text *t) {
    if (!path) {
        write_line(STD_OUTPUT_HANDLE, t->data);
        write_line(STD_OUTPUT_HANDLE, "\n");
        return;
    }
    wchar_t temporary[32800];
    _snwprintf(temporary, 32800, L"%ls.tmp", path);
    temporary[32799] = 0;
    HANDLE f = CreateFileW(temporary, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    if (f == INVALID_HANDLE_VALUE) ExitProcess(98);
    DWORD written;
    WriteFile(f, t->data, (DWORD)t->length, &written, NULL);
    CloseHandle(f);
    if (!MoveFileExW(temporary, path, MOVEFILE_REPLACE_EXISTING)) ExitProcess(97);
}

int wmain(void) {
    wchar_t *mode = env(L"PROBE_ON_EVENT");
    event_mark = env(L"PROBE_EVENT_MARK");
    if (mode && wcscmp(mode, L"ignore") == 0) event_mode = 1;
    if (mode && wcsncmp(mode, L"exit:", 5) == 0) {
        event_mode = 2;
        event_exit_code = (UINT)wcstoul(mode + 5, NULL, 0);
    }
    if (mode || event_mark) SetConsoleCtrlHandler(on_event, TRUE);

    Text t = {0};
    const wchar_t *line = GetCommandLineW();
    put(&t, "{\"command_line\": ");
    put_string(&t, line);
    put(&t, ", \"argv\": [");
    int count = 0;
    wchar_t **args = CommandLineToArgvW(line, &count);
    for (int i = 0; args && i < count; ++i) {
        if (i > 0) put(&t, ", ");
        put_string(&t, args[i]);
    }
    put(&t, "], \"cwd\": ");
    static wchar_t cwd[32768];
    put_string(&t, GetCurrentDirectoryW(32768, cwd) ? cwd : NULL);

    static const wchar_t *names[] = {L"ZEMBRA_ONEFILE_PARENT", L"ZEMBRA_ONEFILE_START", L"ZEMBRA_ONEFILE_TIME_US",
                                     L"ZEMBRA_ONEFILE_RANDOM", L"ZEMBRA_ONEFILE_DIRECTORY", L"ZEMBRA_ORIGINAL_ARGV0"};
    put(&t, ", \"env\": {");
    for (int i = 0; i < 6; ++i) {
        if (i > 0) put(&t, ", ");
        put_string(&t, names[i]);
        put(&t, ": ");
        put_string(&t, env(names[i]));
    }
    put(&t, "}, \"handles\": {");
    put_handle(&t, "stdin", STD_INPUT_HANDLE);
    put(&t, ", ");
    put_handle(&t, "stdout", STD_OUTPUT_HANDLE);
    put(&t, ", ");
    put_handle(&t, "stderr", STD_ERROR_HANDLE);
    put(&t, "}");

    if (env(L"PROBE_READ_STDIN")) {
        char bytes[256];
        DWORD n = 0;
        if (!ReadFile(GetStdHandle(STD_INPUT_HANDLE), bytes, sizeof bytes - 1, &n, NULL)) n = 0;
        wchar_t wide[256];
        for (DWORD i = 0; i < n; ++i) wide[i] = (unsigned char)bytes[i];
        wide[n] = 0;
        put(&t, ", \"stdin_text\": ");
        put_string(&t, wide);
    }
    char pid[64];
    snprintf(pid, sizeof pid, ", \"pid\": %lu}", (unsigned long)GetCurrentProcessId());
    put(&t, pid);

    if (env(L"PROBE_WRITE_STREAMS")) {
        write_line(STD_OUTPUT_HANDLE, "probe-stdout\n");
        write_line(STD_ERROR_HANDLE, "probe-stderr\n");
    }
    report(env(L"PROBE_OUT"), &t);

    wchar_t *sleep_ms = env(L"PROBE_SLEEP_MS");
    if (sleep_ms) Sleep((DWORD)wcstoul(sleep_ms, NULL, 0));
    wchar_t *code = env(L"PROBE_EXIT");
    ExitProcess(code ? (UINT)wcstoul(code, NULL, 0) : 0);
}
