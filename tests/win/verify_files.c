/* A main executable for the reliability tests: checks that every file of the
 * application it belongs to is on disk whole before it does anything else.
 * Beside it lies manifest.txt, one line per file, "CRC32 SIZE NAME" (CRC-32
 * in 8 hex digits, size in decimal, NAME relative with backslashes), then a
 * line "end". This program is listed in it too.
 *
 * Prints "verified N" and exits 0 when all files match; otherwise prints
 * "bad NAME: REASON" to standard error for each that does not and exits 70.
 * With VERIFY_HOLD=1 it prints "holding" after the check and then blocks
 * reading standard input until it ends, so a test can keep it running for as
 * long as it needs without a clock. */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

static unsigned long crc_table[256];

static void make_crc_table(void) {
    for (unsigned long n = 0; n < 256; ++n) {
        unsigned long c = n;
        for (int k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320UL ^ (c >> 1) : c >> 1;
        crc_table[n] = c;
    }
}

static wchar_t directory[32768];

/* Full path of NAME (UTF-8, backslashes) below this program's directory. */
static void full_path(const char *name, wchar_t *out, size_t capacity) {
    wchar_t wide_name[4096];
    if (!MultiByteToWideChar(CP_UTF8, 0, name, -1, wide_name, 4096)) wide_name[0] = 0;
    _snwprintf(out, capacity, L"%ls\\%ls", directory, wide_name);
    out[capacity - 1] = 0;
}

/* 0 when the file has the size and CRC-32; otherwise a reason. Full sharing,
 * so a file that only a writer without read sharing holds shows as such. */
static const char *check(const char *name, unsigned long crc, unsigned long long size) {
    static char reason[128];
    static unsigned char buffer[1 << 16];
    wchar_t path[32768];
    full_path(name, path, 32768);
    HANDLE f = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (f == INVALID_HANDLE_VALUE) {
        snprintf(reason, sizeof reason, "cannot open (error %lu)", (unsigned long)GetLastError());
        return reason;
    }
    unsigned long c = 0xFFFFFFFFUL;
    unsigned long long total = 0;
    DWORD n = 0;
    while (ReadFile(f, buffer, sizeof buffer, &n, NULL) && n > 0) {
        for (DWORD i = 0; i < n; ++i) c = crc_table[(c ^ buffer[i]) & 0xFF] ^ (c >> 8);
        total += n;
    }
    CloseHandle(f);
    c ^= 0xFFFFFFFFUL;
    if (total != size) {
        snprintf(reason, sizeof reason, "size %llu, expected %llu", total, size);
        return reason;
    }
    if (c != crc) {
        snprintf(reason, sizeof reason, "crc %08lx, expected %08lx", c, crc);
        return reason;
    }
    return NULL;
}

int wmain(void) {
    make_crc_table();
    DWORD length = GetModuleFileNameW(NULL, directory, 32768);
    while (length > 0 && directory[length - 1] != L'\\') --length;
    if (length > 0) directory[length - 1] = 0;

    wchar_t manifest_path[32768];
    full_path("manifest.txt", manifest_path, 32768);
    FILE *manifest = _wfopen(manifest_path, L"rb");
    if (!manifest) {
        fprintf(stderr, "bad manifest.txt: cannot open\n");
        return 70;
    }
    char line[8192];
    int files = 0, bad = 0, ended = 0;
    while (fgets(line, sizeof line, manifest)) {
        line[strcspn(line, "\r\n")] = 0;
        if (strcmp(line, "end") == 0) {
            ended = 1;
            break;
        }
        unsigned long crc = 0;
        unsigned long long size = 0;
        int name_at = 0;
        if (sscanf(line, "%8lx %llu %n", &crc, &size, &name_at) != 2 || name_at == 0) {
            fprintf(stderr, "bad manifest.txt: line \"%s\"\n", line);
            ++bad;
            continue;
        }
        const char *reason = check(line + name_at, crc, size);
        if (reason) {
            fprintf(stderr, "bad %s: %s\n", line + name_at, reason);
            ++bad;
        }
        ++files;
    }
    fclose(manifest);
    if (!ended) {
        fprintf(stderr, "bad manifest.txt: no end line\n");
        ++bad;
    }
    fflush(stderr);
    if (bad) return 70;
    printf("verified %d\n", files);
    fflush(stdout);

    wchar_t hold[8];
    if (GetEnvironmentVariableW(L"VERIFY_HOLD", hold, 8) > 0) {
        printf("holding\n");
        fflush(stdout);
        char sink[256];
        DWORD n = 0;
        while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), sink, sizeof sink, &n, NULL) && n > 0) {
        }
    }
    return 0;
}
