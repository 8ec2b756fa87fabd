"""Launchers of indexed blocks, under Wine and natively on Linux: a warm start
decodes nothing and writes nothing, a repair decodes only the frames of the
files it rewrites, and a damaged index stops the launcher before anything is
written. The blocks are made from the entries of the packer's blocks by
zembra_block, in frames small enough to damage one file's frame alone; the
application checks every file it was packed with."""

import copy
import os
import shutil
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

from harness import WineTestCase, packer, run_wine, windows_path
from verified_app import VERIFY, VERIFY_POSIX_SOURCE, differences, make_app
from zembra_block import (MAX_ENTRY_NAME_UNITS, default_target, frame_groups, index_checksum, indexed_block,
                          indexed_parts, parse_block, undecodable)

DECODE_LINE = "Error, couldn't decode attached data.\n"
OLD_TIME = 978307200  # 2001-01-01: a file a start rewrites gets a newer time

SIZES = {
    "data/empty.txt": 0,
    "data/small.txt": 100,
    "data/one.bin": 300 << 10,
    "lib/two.dll": 200 << 10,
    "lib/three.dll": 600 << 10,
    "lib/sub/four.dll": 50 << 10,
    "zz/last.bin": 400 << 10,
}
FRAME_TARGET = 128 << 10
FAST = ("-1", "--no-check")


class IndexedLaunchers:
    """The tests, for one kind of launcher; a subclass says how to make and
    run it and where it unpacks."""

    @classmethod
    def prepare(cls, program, main):
        cls.shared = Path(tempfile.mkdtemp(prefix="zembra-indexed."))
        cls.files = make_app(cls.shared / "app", SIZES, program=program, main=main)
        packed = cls.shared / "packed.block"
        packer("pack", cls.shared / "app", "--main", main, "--level", "1", "-o", packed)
        entries = parse_block(packed.read_bytes()).entries
        cls.frames, cls.index = indexed_parts(entries, frame_groups(entries, FRAME_TARGET), FAST)
        cls.block = indexed_block(cls.frames, cls.index)
        assert len(cls.frames) >= 4, "a block of several frames"

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.shared, ignore_errors=True)

    def setUp(self):
        super().setUp()
        self.cache = self.shared / "cache"
        shutil.rmtree(self.cache, ignore_errors=True)
        self.launchers = 0

    def undecodable(self, keep=()):
        """The block with every frame but those numbered in `keep` made
        undecodable, the index intact: a launcher that decodes one of them
        stops."""
        frames = [frame if number in keep else undecodable(frame) for number, frame in enumerate(self.frames)]
        return indexed_block(frames, self.index)

    def damaged(self, records, number, field, value, checksum=None):
        """The block with `field` of record `number` of its index's `records`
        ("frames" or "entries") set to `value`, the index sealed with its
        own checksum unless `checksum` gives another."""
        index = copy.deepcopy(self.index)
        setattr(getattr(index, records)[number], field, value)
        return indexed_block(self.frames, index, checksum)

    def launcher_of(self, block):
        self.launchers += 1
        path = self.shared / f"{self.id().split('.')[-1]}-{self.launchers}.block"
        path.write_bytes(block)
        return self.link(path, self.shared / f"{path.stem}{self.suffix}")

    def assert_runs_on_whole_files(self, run):
        self.assertEqual((run.returncode, run.err), (0, ""), run.out)
        self.assertEqual(run.out, f"verified {len(self.files)}\n")
        self.assertEqual(differences(self.target, self.files), [])

    def unpacked(self):
        return [str(p.relative_to(self.target)) for p in self.target.rglob("*") if p.is_file()]

    def age(self):
        for name in self.unpacked():
            os.utime(self.target / name, (OLD_TIME, OLD_TIME))

    def rewritten(self):
        return {name for name in self.unpacked() if (self.target / name).stat().st_mtime != OLD_TIME}

    def test_cold_start_writes_every_file_and_a_warm_one_decodes_nothing(self):
        self.assert_runs_on_whole_files(self.run_launcher(self.launcher_of(self.block)))
        self.age()
        # Not one frame of this launcher decodes: it can only run by
        # finding every file in place.
        run = self.run_launcher(self.launcher_of(self.undecodable()))
        self.assert_runs_on_whole_files(run)
        self.assertEqual(self.rewritten(), set())

    def test_damaged_shortened_or_deleted_file_is_repaired_and_only_it_rewritten(self):
        def flip(path):
            data = bytearray(path.read_bytes())
            data[len(data) // 2] ^= 1
            path.write_bytes(bytes(data))

        changes = [
            ("a byte changed", "lib/three.dll", flip),
            ("made shorter", "data/one.bin", lambda p: os.truncate(p, p.stat().st_size - 1)),
            ("deleted", "zz/last.bin", lambda p: p.unlink()),
            ("the empty file deleted", "data/empty.txt", lambda p: p.unlink()),
        ]
        self.run_launcher(self.launcher_of(self.block))
        for change, name, apply in changes:
            with self.subTest(change):
                self.age()
                apply(self.target / name)
                # Only the changed file's frame can be decoded.
                frame = next(e.frame for e in self.index.entries if e.name == name.replace("/", "\\"))
                run = self.run_launcher(self.launcher_of(self.undecodable(keep={frame})))
                self.assert_runs_on_whole_files(run)
                self.assertEqual(self.rewritten(), {name})

    def test_file_whose_frame_cannot_be_decoded_stops_the_launcher(self):
        self.run_launcher(self.launcher_of(self.block))
        (self.target / "lib" / "two.dll").unlink()
        run = self.run_launcher(self.launcher_of(self.undecodable()))
        self.assertEqual((run.returncode, run.out, run.err), (2, DECODE_LINE, ""))

    def test_damaged_index_stops_the_launcher_before_anything_is_written(self):
        cases = {
            "a checksum that does not hold": self.damaged("entries", 0, "stored", 12345,
                                                          checksum=index_checksum(self.index)),
            "an entry at the wrong offset": self.damaged("entries", 1, "offset", 7),
            "a frame past the trailer": self.damaged("frames", 0, "compressed_size", len(self.block)),
            "a name of 1024 units": self.damaged("entries", 0, "units", MAX_ENTRY_NAME_UNITS + 1),
        }
        for case, block in cases.items():
            with self.subTest(case):
                shutil.rmtree(self.cache, ignore_errors=True)
                run = self.run_launcher(self.launcher_of(block))
                self.assertEqual((run.returncode, run.out, run.err), (2, DECODE_LINE, ""))
                self.assertFalse(self.cache.exists(), "nothing is written")


class WindowsIndexedLaunchers(IndexedLaunchers, WineTestCase):
    suffix = ".exe"

    @classmethod
    def setUpClass(cls):
        cls.prepare(VERIFY, "app.exe")

    @property
    def target(self):
        return self.cache / "app"

    def link(self, block, exe):
        packer("link", block, "-o", exe, "--unpack-spec", windows_path(self.cache) + "\\app")
        return exe

    def run_launcher(self, exe):
        return run_wine(exe)


class Completed:
    def __init__(self, completed):
        self.returncode, self.out, self.err = completed.returncode, completed.stdout, completed.stderr


class LinuxIndexedLaunchers(IndexedLaunchers, unittest.TestCase):
    runs_linux_launcher = True
    suffix = ""

    @classmethod
    def setUpClass(cls):
        work = Path(tempfile.mkdtemp(prefix="zembra-verify."))
        (work / "verify.c").write_text(VERIFY_POSIX_SOURCE)
        subprocess.run(["cc", "-O2", "-o", str(work / "verify"), str(work / "verify.c")], check=True)
        cls.prepare(work / "verify", "app")
        shutil.rmtree(work)

    @property
    def target(self):
        return default_target(self.cache)

    def link(self, block, exe):
        packer("link", block, "-o", exe, "--target", "linux")
        return exe

    def run_launcher(self, exe):
        env = dict(os.environ, XDG_CACHE_HOME=str(self.cache))
        return Completed(subprocess.run([str(exe)], env=env, capture_output=True, text=True, timeout=120,
                                        stdin=subprocess.DEVNULL))

    @unittest.skipIf(os.environ.get("ZEMBRA_SANITIZED"), "a sanitized launcher's shadow memory hides what it "
                     "holds itself")
    def test_warm_start_holds_far_less_memory_than_one_decoder(self):
        # One frame whose decoder needs 48 MiB (its content, in a window
        # larger than that): a start that decodes it holds that much at its
        # peak; a warm start only the buffers it reads into.
        app = self.shared / "large"
        make_app(app, {"data/large.bin": 48 << 20}, program=self.shared / "app" / "app", main="app")
        block = self.shared / "large.block"
        packer("pack", app, "--main", "app", "--level", "1", "--window-log", "27", "--layout", "indexed",
               "--frame-size", "64", "-o", block)
        launcher = self.launcher_of(block.read_bytes())

        def peak_mib():
            measure = ("import resource, subprocess, sys; subprocess.run(sys.argv[1:], check=True, "
                       "stdout=subprocess.DEVNULL); print(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)")
            env = dict(os.environ, XDG_CACHE_HOME=str(self.cache))
            out = subprocess.run([sys.executable, "-c", measure, str(launcher)], env=env, capture_output=True,
                                 text=True, check=True, timeout=120).stdout
            return int(out) / 1024

        cold, warm = peak_mib(), peak_mib()
        self.assertGreater(cold, 48, "the measure sees a decoder")
        self.assertLess(warm, 16)


if __name__ == "__main__":
    unittest.main()
