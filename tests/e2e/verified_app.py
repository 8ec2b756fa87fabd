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


def make_app(directory, sizes, seed=1, exe_tail=b""):
    """Writes the application into `directory`: app.exe (with `exe_tail`
    appended, which the system ignores when it runs it, so two versions of
    the program can differ), the files of `sizes` ({relative name with '/':
    size}; half random bytes, half text that compresses), and manifest.txt.
    Returns {name: bytes} of every file but the manifest."""
    app = Path(directory)
    app.mkdir(parents=True, exist_ok=True)
    generator = random.Random(seed)
    files = {"app.exe": VERIFY.read_bytes() + exe_tail}
    for i, (name, size) in enumerate(sizes.items()):
        half = size // 2
        line = b"line of file %d\n" % i
        files[name] = generator.randbytes(half) + (line * (size // len(line) + 1))[: size - half]
    for name, content in files.items():
        path = app / name
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(content)
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
