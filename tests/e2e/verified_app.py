"""An application that checks itself: its main executable (verify_files.exe)
reads a manifest of every file's size and CRC-32 and exits 0 only when all
are on disk whole. Used by the fault and concurrency tests, which also
compare the unpacked bytes from here."""

import os
import random
import zlib
from pathlib import Path

from harness import WIN_TOOLS

VERIFY = WIN_TOOLS / "verify_files.exe"
START_TOGETHER = WIN_TOOLS / "start_together.exe"


def rounds(default):
    """How many rounds a repeated test runs: ZEMBRA_ROUNDS when set (a long
    stress run), else the default that keeps a normal test run short."""
    return int(os.environ.get("ZEMBRA_ROUNDS", default))


def make_app(directory, sizes, seed=1, exe_tail=b"", program=VERIFY, main="app.exe"):
    """Writes the application into `directory`: `program` as `main` (with
    `exe_tail` appended, which the system ignores when it runs it, so two
    versions of the program can differ), the files of `sizes` ({relative
    name with '/': size}; half random bytes, half text that compresses), and
    manifest.txt. Returns {name: bytes} of every file but the manifest."""
    app = Path(directory)
    app.mkdir(parents=True, exist_ok=True)
    generator = random.Random(seed)
    files = {main: Path(program).read_bytes() + exe_tail}
    for i, (name, size) in enumerate(sizes.items()):
        half = size // 2
        line = b"line of file %d\n" % i
        files[name] = generator.randbytes(half) + (line * (size // len(line) + 1))[: size - half]
    for name, content in files.items():
        path = app / name
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(content)
    (app / main).chmod(0o755)
    # Listed roughly in the reverse of the packer's order, so the check
    # starts with the files that a launcher still busy unpacking writes last.
    lines = [f"{zlib.crc32(content):08x} {len(content)} {name.replace('/', chr(92))}"
             for name, content in sorted(files.items(), reverse=True)]
    (app / "manifest.txt").write_text("\n".join(lines + ["end", ""]), encoding="utf-8", newline="\n")
    return files


def differences(cache, files):
    """Names whose bytes below `cache` differ from `files` (missing included)."""
    wrong = []
    for name, content in files.items():
        path = Path(cache) / name
        if not path.is_file() or path.read_bytes() != content:
            wrong.append(name)
    return wrong


# The same check for Linux launchers, built with the host's C compiler.
VERIFY_POSIX_SOURCE = r"""
#include <stdio.h>
#include <string.h>
#include <unistd.h>

static unsigned long table[256];

int main(void) {
    for (unsigned long n = 0; n < 256; ++n) {
        unsigned long c = n;
        for (int k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320UL ^ (c >> 1) : c >> 1;
        table[n] = c;
    }
    char dir[4096], path[8192], line[8192];
    ssize_t n = readlink("/proc/self/exe", dir, sizeof dir - 1);
    if (n <= 0) return 71;
    dir[n] = 0;
    *strrchr(dir, '/') = 0;
    snprintf(path, sizeof path, "%s/manifest.txt", dir);
    FILE *manifest = fopen(path, "rb");
    if (!manifest) { fprintf(stderr, "bad manifest.txt: cannot open\n"); return 70; }
    int files = 0, bad = 0, ended = 0;
    while (fgets(line, sizeof line, manifest)) {
        line[strcspn(line, "\r\n")] = 0;
        if (strcmp(line, "end") == 0) { ended = 1; break; }
        unsigned long crc = 0;
        unsigned long long size = 0;
        int at = 0;
        if (sscanf(line, "%8lx %llu %n", &crc, &size, &at) != 2 || at == 0) { ++bad; continue; }
        for (char *c = line + at; *c; ++c) if (*c == '\\') *c = '/';
        snprintf(path, sizeof path, "%s/%s", dir, line + at);
        FILE *f = fopen(path, "rb");
        unsigned long c = 0xFFFFFFFFUL;
        unsigned long long total = 0;
        static unsigned char buffer[1 << 16];
        size_t got;
        if (f) {
            while ((got = fread(buffer, 1, sizeof buffer, f)) > 0) {
                for (size_t i = 0; i < got; ++i) c = table[(c ^ buffer[i]) & 0xFF] ^ (c >> 8);
                total += got;
            }
            fclose(f);
        }
        if (!f || total != size || (c ^ 0xFFFFFFFFUL) != crc) { fprintf(stderr, "bad %s\n", line + at); ++bad; }
        ++files;
    }
    fclose(manifest);
    if (!ended || bad) return 70;
    printf("verified %d\n", files);
    return 0;
}
"""
