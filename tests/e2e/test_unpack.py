"""Unpacking under Wine with launchers built by the packer: what the first
start writes, what later starts leave alone or repair, and how a file that
cannot be opened stops the launcher."""

import os
import resource
import shutil
import subprocess
import unittest
from pathlib import Path

import harness
from harness import WineTestCase, build_launcher, run_wine, windows_path, write_tree

HELLO = harness.EXAMPLES / "hello"

# Set on every unpacked file before a start: a file the start writes gets a
# new modification time, one it leaves alone keeps this one.
OLD_TIME = 978307200  # 2001-01-01

DEEP = "/".join(["long-directory-name-" + str(i) * 40 for i in range(5)])

PAYLOAD = {
    "a.txt": "first data file\n",
    "big.bin": os.urandom(1 << 20),
    "data/empty.txt": b"",
    "data/crc-zero.bin": bytes.fromhex("9d0ad96d"),
    "données/élan ✓.txt": "accents\n",
    "données/日本語.txt": "cjk\n",
    "données/😀.txt": "astral\n",
    DEEP + "/far.txt": "more than 260 characters from the drive\n",
    "zz/last.txt": "the last entry\n",
}


class UnpackTest(WineTestCase):
    def setUp(self):
        super().setUp()
        self.app = self.tmp / "app"
        self.target = self.tmp / "target"
        shutil.copytree(HELLO, self.app)
        write_tree(self.app, PAYLOAD)
        self.exe = build_launcher(self.app, self.tmp / "App.exe", "--main", "hello.exe",
                                  "--unpack-spec", windows_path(self.target))

    def start(self, **kwargs):
        return run_wine(self.exe, **kwargs)

    def packed_files(self):
        return sorted(p.relative_to(self.app) for p in self.app.rglob("*") if p.is_file())

    def unpacked_files(self):
        return sorted(p.relative_to(self.target) for p in self.target.rglob("*") if p.is_file())

    def assert_all_unpacked(self):
        self.assertEqual(self.unpacked_files(), self.packed_files())
        for name in self.packed_files():
            self.assertEqual((self.target / name).read_bytes(), (self.app / name).read_bytes(), name)

    def age_unpacked_files(self):
        for name in self.unpacked_files():
            os.utime(self.target / name, (OLD_TIME, OLD_TIME))

    def rewritten(self):
        return {str(name) for name in self.unpacked_files()
                if (self.target / name).stat().st_mtime != OLD_TIME}

    def test_first_start_creates_every_file_with_its_bytes(self):
        self.assertGreater(len(windows_path(self.target / DEEP / "far.txt")), 260)
        run = self.start()
        self.assertEqual(run.returncode, 0, run.err)
        self.assert_all_unpacked()

    def test_second_start_rewrites_nothing(self):
        self.start()
        self.age_unpacked_files()
        run = self.start()
        self.assertEqual(run.returncode, 0, run.err)
        # An empty entry whose empty file is there counts as in place too:
        # rewriting it would fail while a running program holds it.
        self.assertEqual(self.rewritten(), set())
        self.assert_all_unpacked()

    def test_changed_file_is_restored_and_nothing_else_written(self):
        def flip_byte(path):
            data = bytearray(path.read_bytes())
            data[len(data) // 2] ^= 0x01
            path.write_bytes(bytes(data))

        changes = [
            ("one byte changed", "big.bin", flip_byte),
            ("made longer", "a.txt", lambda p: p.write_bytes(p.read_bytes() + b"more")),
            ("made shorter", "données/élan ✓.txt", lambda p: p.write_bytes(p.read_bytes()[:-1])),
            ("deleted", DEEP + "/far.txt", lambda p: p.unlink()),
            ("empty entry deleted", "data/empty.txt", lambda p: p.unlink()),
            ("empty entry filled", "data/empty.txt", lambda p: p.write_bytes(b"x")),
        ]
        self.start()
        for change, name, apply in changes:
            with self.subTest(change):
                self.age_unpacked_files()
                apply(self.target / name)
                run = self.start()
                self.assertEqual(run.returncode, 0, run.err)
                self.assertEqual(self.rewritten(), {name})
                self.assert_all_unpacked()

    def test_directory_in_place_of_a_file_stops_with_the_open_message(self):
        (self.target / "zz" / "last.txt").mkdir(parents=True)
        run = self.start()
        self.assertEqual(run.returncode, 2)
        self.assertEqual(run.out, "")
        self.assertEqual(run.err, f"Error, failed to open '{windows_path(self.target)}\\zz\\last.txt' for writing.\n")
        # Everything before it in the stream is on disk.
        for name in self.packed_files():
            if str(name) != "zz/last.txt":
                self.assertEqual((self.target / name).read_bytes(), (self.app / name).read_bytes(), name)

    def test_start_stopped_mid_file_is_repaired_by_the_next(self):
        limit = 400000  # a largest file size that big.bin, and only big.bin, exceeds
        self.assertLess((self.app / "hello.exe").stat().st_size, limit)

        def limit_file_size():
            resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))

        # The limit must not reach the wine server, which saves the registry:
        # make sure it runs before the limited process would start one.
        subprocess.run([harness.WINESERVER, "-p"], capture_output=True)
        # The system stops the launcher when big.bin reaches the limit, as a
        # kill would: nothing is cleaned up.
        stopped = harness.Run(subprocess.run([harness.WINE, str(self.exe)], capture_output=True, timeout=120,
                                             stdin=subprocess.DEVNULL, preexec_fn=limit_file_size))
        self.assertNotEqual(stopped.returncode, 0)
        self.assertLessEqual((self.target / "big.bin").stat().st_size, limit)
        self.assertFalse((self.target / "zz" / "last.txt").exists())

        self.age_unpacked_files()
        run = self.start()
        self.assertEqual(run.returncode, 0, run.err)
        self.assert_all_unpacked()
        # Files completed before the stop are left alone.
        self.assertNotIn("hello.exe", self.rewritten())
        self.assertNotIn("a.txt", self.rewritten())


if __name__ == "__main__":
    unittest.main()
