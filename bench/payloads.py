"""The benchmark payloads: real Windows binaries that nobody here wrote,
Wine's own 64-bit Windows DLLs and programs, in a fixed selection so that
every run on a machine with the same Wine measures the same bytes.

Selection, from the regular files of WINE_DLLS sorted by size, largest
first (ties by name): the `top` largest files, then every further file of at
most `cap` bytes until the total reaches `target` bytes. The large files
stand for an application's few big libraries, the rest for its many
middle-sized ones. Each selected file lands at lib/<first letter>/<name>;
the main program (the trivial program, bench/trivial.c) is the top-level
app.exe (app on Linux), the first entry of the block."""

import os
import shutil
from pathlib import Path

WINE_DLLS = Path("/usr/lib/x86_64-linux-gnu/wine/x86_64-windows")

# name: (top, cap, target)
SELECTIONS = {
    "full": (3, 4_000_000, 340_000_000),   # about 340 MB in about 120 files
    "quick": (0, 1_000_000, 20_000_000),   # about 20 MB
    "smoke": (0, 100_000, 1_000_000),      # about 1 MB
    # a small application's libraries: the largest files of at most 1 MB
    "dlls": (0, 1_000_000, 8_000_000),
    "dlls-smoke": (0, 1_000_000, 2_000_000),
}


def select_files(selection):
    top, cap, target = SELECTIONS[selection]
    files = sorted(
        ((entry.stat().st_size, entry.name) for entry in os.scandir(WINE_DLLS)
         if entry.is_file(follow_symlinks=False)),
        key=lambda item: (-item[0], item[1]))
    chosen = files[:top]
    total = sum(size for size, _ in chosen)
    for size, name in files[top:]:
        if total >= target:
            break
        if size <= cap:
            chosen.append((size, name))
            total += size
    if total < target:
        raise RuntimeError(f"{WINE_DLLS} holds too little for the '{selection}' payload")
    return [name for _, name in chosen]


def make_payload(directory, selection, main_program, main_name):
    """Fills `directory` (made afresh) with the main program and the selected
    files; returns (file count, total bytes) including the main program."""
    directory = Path(directory)
    shutil.rmtree(directory, ignore_errors=True)
    directory.mkdir(parents=True)
    shutil.copy2(main_program, directory / main_name)
    names = select_files(selection) if selection else []
    for name in names:
        dest = directory / "lib" / name[0].lower() / name
        dest.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(WINE_DLLS / name, dest)
    files = [p for p in directory.rglob("*") if p.is_file()]
    return len(files), sum(p.stat().st_size for p in files)


def make_small_payload(directory, total, main_program, main_name):
    """A small application of `total` bytes: the main program and one data
    file, the start of the largest Wine DLL, that fills it up. Returns (file
    count, total bytes)."""
    directory = Path(directory)
    shutil.rmtree(directory, ignore_errors=True)
    directory.mkdir(parents=True)
    shutil.copy2(main_program, directory / main_name)
    left = total - (directory / main_name).stat().st_size
    if left > 0:
        largest = max((entry for entry in os.scandir(WINE_DLLS) if entry.is_file(follow_symlinks=False)),
                      key=lambda entry: (entry.stat().st_size, entry.name))
        with open(largest.path, "rb") as source:
            (directory / "data.bin").write_bytes(source.read(left))
    files = [p for p in directory.rglob("*") if p.is_file()]
    return len(files), sum(p.stat().st_size for p in files)
