/* The demo application: shows what a program started by the launcher sees
 * (its arguments, where its files are, the launcher's variables) and reads
 * one of the data files that were packed with it. */
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>
#include <windows.h>

static void show_variable(const wchar_t* name) {
    const wchar_t* value = _wgetenv(name);
    wprintf(L"  %-26ls %ls\n", name, value ? value : L"(not set)");
}

int wmain(int argc, wchar_t** argv) {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(NULL, self, MAX_PATH);
    wprintf(L"Hello from the packed application.\n");
    wprintf(L"  running from               %ls\n", self);
    for (int i = 1; i < argc; ++i) wprintf(L"  argument %-17d %ls\n", i, argv[i]);
    show_variable(L"ZEMBRA_ONEFILE_PARENT");
    show_variable(L"ZEMBRA_ONEFILE_DIRECTORY");
    show_variable(L"ZEMBRA_ORIGINAL_ARGV0");

    /* The data files sit next to the program, below the cache directory. */
    wchar_t* slash = wcsrchr(self, L'\\');
    if (slash) wcscpy(slash + 1, L"data\\greeting.txt");
    FILE* f = _wfopen(self, L"rb");
    if (!f) {
        wprintf(L"  could not read %ls\n", self);
        return 1;
    }
    char line[256];
    if (fgets(line, sizeof line, f)) printf("  data/greeting.txt says:   %s", line);
    fclose(f);

    int code = 0;
    for (int i = 1; i + 1 < argc; ++i)
        if (wcscmp(argv[i], L"--exit") == 0) code = _wtoi(argv[i + 1]);
    wprintf(L"Exiting with code %d.\n", code);
    return code;
}
