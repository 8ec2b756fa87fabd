"""Both block layouts from the outside: an indexed block is still the single
frame's entry stream to Debian's zstd tool, and a launcher that reads the
block as one stream runs its child from an indexed block, under Wine and
natively."""

import os
import re
import shutil
import subprocess
import tempfile
import unittest
from pathlib import Path

from harness import WineTestCase, local_app_data, packer, run_wine
from verified_app import VERIFY_POSIX_SOURCE, differences, make_app
from zembra_block import (MAGIC, TRAILER_ALIGNMENT, TRAILER_BYTES, BlockError, Entry, build_indexed_block,
                          indexed_block, indexed_parts, parse_block, parse_indexed_block)

# Enough data for several frames of 1 MiB.
SIZES = {f"lib/part{i}.dll": 300_000 + 70_000 * i for i in range(8)} | {"data/empty.txt": 0, "top.txt": 5}
INDEXED = ("--layout", "indexed", "--frame-size", "1", "--level", "3")
SINGLE = ("--layout", "single-frame", "--level", "3")


def zstd_stream(block):
    """The entry stream that Debian's zstd tool decodes from the bytes
    between the magic and the padding (found by trying each padding length),
    and the tool's listing of those bytes."""
    assert block[:len(MAGIC)] == MAGIC, "magic"
    trailer = int.from_bytes(block[-TRAILER_BYTES:], "little")
    assert trailer == len(block) - TRAILER_BYTES and trailer % TRAILER_ALIGNMENT == 0, "trailer"
    found = []
    with tempfile.TemporaryDirectory() as scratch:
        frames = Path(scratch) / "frames.zst"
        for padding in range(TRAILER_ALIGNMENT):
            if block[trailer - padding:trailer] != bytes(padding):
                break
            frames.write_bytes(block[len(MAGIC):trailer - padding])
            decoded = subprocess.run(["zstd", "-d", "-c", "-q", str(frames)], capture_output=True)
            if decoded.returncode == 0:
                listing = subprocess.run(["zstd", "-lv", str(frames)], capture_output=True, text=True).stdout
                found.append((decoded.stdout, listing))
    assert len(found) == 1, "exactly one way to cut the frames from the padding"
    return found[0]


class IndexedBlockTest(WineTestCase):
    def test_zstd_decodes_the_same_entry_stream_from_both_layouts(self):
        make_app(self.tmp / "app", SIZES)
        packer("pack", self.tmp / "app", "--main", "app.exe", "-o", self.tmp / "single.bin", *SINGLE)
        packer("pack", self.tmp / "app", "--main", "app.exe", "-o", self.tmp / "indexed.bin", *INDEXED)
        single, single_listing = zstd_stream((self.tmp / "single.bin").read_bytes())
        indexed, listing = zstd_stream((self.tmp / "indexed.bin").read_bytes())
        self.assertRegex(single_listing, r"# Zstandard Frames: 1\b")
        self.assertEqual(int(re.search(r"# Skippable Frames: (\d+)", listing).group(1)), 1, listing)
        self.assertGreaterEqual(int(re.search(r"# Zstandard Frames: (\d+)", listing).group(1)), 3, listing)
        self.assertTrue(indexed == single, "the same entry stream")

        # The index lists every entry where its frame holds it.
        parsed = parse_indexed_block((self.tmp / "indexed.bin").read_bytes())
        self.assertEqual(parsed.entries, parse_block((self.tmp / "single.bin").read_bytes()).entries)
        for listed, entry in zip(parsed.index.entries, parsed.entries, strict=True):
            self.assertEqual((listed.name, listed.size, listed.stored), (entry.name, entry.size, entry.stored))
            content = parsed.contents[listed.frame]
            self.assertEqual(content[listed.offset:listed.offset + len(entry.to_bytes())], entry.to_bytes())

    def test_hand_built_indexed_blocks_and_damaged_ones(self):
        entries = [Entry("app.exe", b"MZ" * 500), Entry("lib\\a.dll", b"a" * 3000), Entry("empty", b"")]
        parsed = parse_indexed_block(build_indexed_block(entries, [2, 1]))
        self.assertEqual(parsed.entries, entries)
        self.assertEqual([frame.content_size for frame in parsed.index.frames],
                         [len(entries[0].to_bytes() + entries[1].to_bytes()), len(entries[2].to_bytes()) + 2])

        frames, index = indexed_parts(entries)
        index.frames[1].offset += 1   # the checksum is made to match: only the offset is wrong
        damaged = {
            "a wrong checksum": indexed_block(*indexed_parts(entries), checksum=0),
            "a frame listed where it is not": indexed_block(frames, index),
            "a frame missing": indexed_block(frames[:2], indexed_parts(entries)[1]),
        }
        for what, block in damaged.items():
            with self.subTest(what):
                with self.assertRaises(BlockError):
                    parse_indexed_block(block)

    def test_a_launcher_reading_one_stream_runs_its_child_from_an_indexed_block(self):
        files = make_app(self.tmp / "app", SIZES)
        launcher = self.tmp / "launcher.exe"
        packer("build", self.tmp / "app", "--main", "app.exe", "-o", launcher, *INDEXED)
        target = local_app_data() / "Quenlith" / "1.0.20"
        shutil.rmtree(target, ignore_errors=True)
        self.addCleanup(shutil.rmtree, target, True)
        for state in ("empty cache", "one file removed"):
            with self.subTest(state):
                run = run_wine(launcher)
                self.assertEqual((run.returncode, run.out), (0, f"verified {len(files)}\n"), run.err)
                self.assertEqual(differences(target, files), [])
                (target / "lib" / "part5.dll").unlink()


class IndexedLinuxLauncherTest(unittest.TestCase):
    runs_linux_launcher = True

    def test_a_linux_launcher_runs_its_child_from_an_indexed_block(self):
        work = Path(tempfile.mkdtemp(prefix="zembra-layouts."))
        self.addCleanup(shutil.rmtree, work, True)
        (work / "verify.c").write_text(VERIFY_POSIX_SOURCE)
        subprocess.run(["gcc", "-O2", "-o", str(work / "verify"), str(work / "verify.c")], check=True)
        files = make_app(work / "app", SIZES, program=work / "verify", main="app")
        launcher = work / "launcher"
        packer("build", work / "app", "--main", "app", "--target", "linux", "-o", launcher, *INDEXED)
        env = dict(os.environ, XDG_CACHE_HOME=str(work / "cache"))
        run = subprocess.run([str(launcher)], env=env, capture_output=True, text=True, timeout=120)
        self.assertEqual((run.returncode, run.stdout), (0, f"verified {len(files)}\n"), run.stderr)
        self.assertEqual(differences(work / "cache" / "Quenlith" / "1.0.20", files), [])


if __name__ == "__main__":
    unittest.main()
