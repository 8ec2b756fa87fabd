"""Launchers of one application started at the same moment on an empty
cache: every one of them must start its child on whole files. Without the
unpack lock a later launcher truncates and rewrites files that an earlier
one's child already runs on.

ZEMBRA_ROUNDS sets the number of rounds (a stress run uses 20 or more)."""

import re
import shutil
import tempfile
import unittest
from pathlib import Path

from harness import WineTestCase, build_launcher, run_wine, windows_path
from verified_app import START_TOGETHER, differences, make_app, rounds

LAUNCHERS = 8


class ConcurrentStarts(WineTestCase):
    @classmethod
    def setUpClass(cls):
        cls.shared = Path(tempfile.mkdtemp(prefix="zembra-concurrent."))
        # The last entry is large, so that a launcher still writing it does so
        # for longer than a process takes to start; the children check it first.
        cls.files = make_app(cls.shared / "app", {
            "data/empty.txt": 0,
            "data/set 00/values.bin": 1 << 20,
            "data/set 01/values.bin": 1000,
            "lib/part01.dll": 2 << 20,
            "lib/part02.dll": 2 << 20,
            "lib/zz-last.dll": 40 << 20,
        })
        cls.cache = cls.shared / "cache"
        cls.launcher = build_launcher(cls.shared / "app", cls.shared / "launcher.exe",
                                      "--main", "app.exe", "--unpack-spec", windows_path(cls.cache))

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.shared, ignore_errors=True)

    def start_together(self):
        run = run_wine(START_TOGETHER, LAUNCHERS, f'"{windows_path(self.launcher)}"', timeout=600)
        codes = [int(c) for c in re.findall(r"^exit\[\d+\]=(\d+)$", run.out, re.M)]
        self.assertEqual(len(codes), LAUNCHERS, run.out + run.err)
        return codes, run

    def test_launchers_started_together_all_run_on_whole_files(self):
        for round_number in range(rounds(3)):
            with self.subTest(round=round_number):
                shutil.rmtree(self.cache, ignore_errors=True)
                codes, run = self.start_together()
                self.assertEqual(codes, [0] * LAUNCHERS, run.err)
                self.assertEqual(run.out.count("verified 7\n"), LAUNCHERS, run.out + run.err)
                self.assertEqual(differences(self.cache, self.files), [])

    def test_launchers_started_together_over_a_damaged_cache_repair_it_once(self):
        for round_number in range(rounds(3)):
            with self.subTest(round=round_number):
                shutil.rmtree(self.cache, ignore_errors=True)
                self.assertEqual(run_wine(self.launcher).returncode, 0)
                damaged = self.cache / "lib" / "part01.dll"
                with open(damaged, "r+b") as f:
                    f.truncate(1 << 20)
                codes, run = self.start_together()
                self.assertEqual(codes, [0] * LAUNCHERS, run.err)
                self.assertEqual(differences(self.cache, self.files), [])


if __name__ == "__main__":
    unittest.main()
