/* The demo application: shows what a program started by the launcher sees
 * (its arguments, where its files are, the launcher's variables) and reads
 * one of the data files that were packed with it. The same source builds
 * for Windows and for Linux. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#ifdef _WIN32
#include <windows.h>
#define SEPARATOR '\\'
#else
#include <unistd.h>
#define SEPARATOR '/'
#endif

static void own_path(char* out, size_t capacity) {
#ifdef _WIN32
    wchar_t wide[MAX_PATH];
    GetModuleFileNameW(NULL, wide, MAX_PATH);
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, out, (int)capacity, NULL, NULL);
#else
    ssize_t n = readlink("/proc/self/exe", out, capacity - 1);
    out[n > 0 ? n : 0] = 0;
#endif
}

/* Opens a file given in UTF-8 (Windows needs the wide name for anything
 * outside the current code page). */
static FILE* open_utf8(const char* path) {
#ifdef _WIN32
    wchar_t wide[4096];
    if (!MultiByteToWideChar(CP_UTF8, 0, path, -1, wide, 4096)) return NULL;
    return _wfopen(wide, L"rb");
#else
    return fopen(path, "rb");
#endif
}

static void show_variable(const char* name) {
    const char* value = getenv(name);
    printf("  %-26s %s\n", name, value ? value : "(not set)");
}

int main(int argc, char** argv) {
    char self[4096];
    own_path(self, sizeof self);
    printf("Hello from the packed application.\n");
    printf("  running from               %s\n", self);
    for (int i = 1; i < argc; ++i) printf("  argument %-17d %s\n", i, argv[i]);
    show_variable("ZEMBRA_ONEFILE_PARENT");
    show_variable("ZEMBRA_ONEFILE_DIRECTORY");
    show_variable("ZEMBRA_ORIGINAL_ARGV0");

    /* The data files sit next to the program, below the cache directory. */
    char* slash = strrchr(self, SEPARATOR);
    if (slash) snprintf(slash + 1, sizeof self - (size_t)(slash + 1 - self), "data%cgreeting.txt", SEPARATOR);
    FILE* f = open_utf8(self);
    if (!f) {
        printf("  could not read %s\n", self);
        return 1;
    }
    char line[256];
    if (fgets(line, sizeof line, f)) printf("  data/greeting.txt says:   %s", line);
    fclose(f);

    int code = 0;
    for (int i = 1; i + 1 < argc; ++i)
        if (strcmp(argv[i], "--exit") == 0) code = atoi(argv[i + 1]);
    printf("Exiting with code %d.\n", code);
    return code;
}
