#!/usr/bin/python3
"""Block size of the indexed layout against the single frame, for several
frame sizes, on the reference payload and on small applications; each figure
a ratio against the single-frame block of the same input and settings
(level 19, window log 27).

    bench/layout_sizes.py [--frame-sizes 16,32,64,128] [--skip-full] [--scratch DIR]

Run it after `bash scripts/build.sh`. The payloads: the full benchmark
payload (bench/payloads.py), the example application, and a few MB of mixed
files (this repository's tracked files, the smoke selection of Wine's DLLs
and 1 MB of random bytes). Pack times are printed for information only."""

import argparse
import os
import random
import shutil
import subprocess
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "tests" / "py"))

import payloads  # noqa: E402
import zembra_block  # noqa: E402

BENCH = Path(__file__).resolve().parent
REPO = BENCH.parent
STAGE = Path(os.environ.get("STAGE_DIR", REPO / "build"))
PACKER = STAGE / "bin" / "zembra"
EXAMPLE = STAGE / "examples" / "hello"
SETTINGS = ("--level", "19", "--window-log", "27")


def frame_count(block_path):
    """Frames of a block, from its index when it has one."""
    block = Path(block_path).read_bytes()
    return len(zembra_block.parse_index(block)[0].frames) if zembra_block.is_indexed(block) else 1


def pack(source, main, out, *options):
    start = time.monotonic()
    subprocess.run([str(PACKER), "pack", str(source), "--main", main, "-o", str(out), *SETTINGS, *options],
                   check=True)
    return out.stat().st_size, time.monotonic() - start


def mixed_payload(directory):
    shutil.rmtree(directory, ignore_errors=True)
    payloads.make_payload(directory, "smoke", EXAMPLE / "hello.exe", "app.exe")
    tracked = subprocess.run(["git", "ls-files"], cwd=REPO, capture_output=True, text=True, check=True).stdout
    for name in tracked.split():
        if (REPO / name).is_file():
            dest = directory / "src" / name
            dest.parent.mkdir(parents=True, exist_ok=True)
            shutil.copyfile(REPO / name, dest)
    (directory / "random.bin").write_bytes(random.Random(1).randbytes(1 << 20))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--frame-sizes", default="16,32,64,128", help="MiB of content per frame, comma-separated")
    parser.add_argument("--skip-full", action="store_true", help="only the small applications")
    parser.add_argument("--scratch", type=Path, default=REPO / "build" / "bench-layouts")
    args = parser.parse_args()
    scratch = args.scratch
    scratch.mkdir(parents=True, exist_ok=True)
    targets = [int(x) for x in args.frame_sizes.split(",")]

    inputs = [("example application", EXAMPLE, "hello.exe")]
    mixed_payload(scratch / "mixed")
    inputs.append(("mixed files", scratch / "mixed", "app.exe"))
    if not args.skip_full:
        payloads.make_payload(scratch / "full", "full", EXAMPLE / "hello.exe", "app.exe")
        inputs.append(("reference payload", scratch / "full", "app.exe"))

    print("| payload | layout | frames | block | ratio | pack time |")
    print("|---|---|---|---|---|---|")
    for name, source, main_name in inputs:
        files = [p for p in Path(source).rglob("*") if p.is_file()]
        content = sum(p.stat().st_size for p in files)
        print(f"<!-- {name}: {len(files)} files, {content:,} bytes -->", flush=True)
        single, seconds = pack(source, main_name, scratch / "single.bin", "--layout", "single-frame")
        print(f"| {name} | single-frame | 1 | {single:,} B | 1.0000 | {seconds:.0f} s |", flush=True)
        for target in targets:
            out = scratch / f"indexed-{target}.bin"
            size, seconds = pack(source, main_name, out, "--layout", "indexed", "--frame-size", str(target))
            print(f"| {name} | indexed, {target} MiB | {frame_count(out)} | {size:,} B | {size / single:.4f} "
                  f"| {seconds:.0f} s |", flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
