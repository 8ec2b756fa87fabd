"""Launchers of one application started at the same moment on an empty or
damaged cache: every one of them must start its child on whole files.
Without the unpack lock a later launcher truncates and rewrites files that
an earlier one's child already runs on. Windows launchers run under Wine,
Linux launchers natively.

ZEMBRA_ROUNDS sets the number of rounds (a stress run uses 20 or more)."""

import os
import re
import shutil
import subprocess
import tempfile
import unittest
from pathlib import Path

from harness import WineTestCase, build_indexed_launcher, build_launcher, packer, run_wine, windows_path
from verified_app import START_TOGETHER, VERIFY_POSIX_SOURCE, differences, make_app, rounds
from zembra_block import default_target

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
        cls.launcher = cls.make_launcher(cls.shared / "app", cls.shared / "launcher.exe", windows_path(cls.cache))

    @staticmethod
    def make_launcher(app, exe, unpack_spec):
        return build_launcher(app, exe, "--main", "app.exe", "--unpack-spec", unpack_spec)

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


class LinuxLaunchersTogether(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = Path(tempfile.mkdtemp(prefix="zembra-concurrent-linux."))
        (cls.work / "verify.c").write_text(VERIFY_POSIX_SOURCE)
        subprocess.run(["cc", "-O2", "-o", str(cls.work / "verify"), str(cls.work / "verify.c")], check=True)
        cls.files = make_app(cls.work / "app", {"data/empty": 0, "data/big.bin": 64 << 20, "lib/part.so": 1 << 20},
                             program=cls.work / "verify", main="app")
        cls.launcher = cls.make_launcher(cls.work / "app", cls.work / "App")
        cls.cache = cls.work / "cache"
        cls.target = default_target(cls.cache)

    @staticmethod
    def make_launcher(app, exe):
        packer("build", app, "--main", "app", "--target", "linux", "--level", "1", "-o", exe)
        return exe

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.work, ignore_errors=True)

    def start_together(self):
        env = dict(os.environ, XDG_CACHE_HOME=str(self.cache))
        started = [subprocess.Popen([str(self.launcher)], env=env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                    stderr=subprocess.PIPE, text=True) for _ in range(LAUNCHERS)]
        return [(p.returncode, out, err) for p in started for out, err in [p.communicate(timeout=600)]]

    def test_launchers_started_together_on_an_empty_or_damaged_cache_all_run(self):
        # A launcher that checks a damaged file through a mapping while
        # another empties it to rewrite it would end with SIGBUS.
        for round_number in range(rounds(3)):
            for cache_state in ("empty", "damaged"):
                with self.subTest(round=round_number, cache=cache_state):
                    if cache_state == "empty":
                        shutil.rmtree(self.cache, ignore_errors=True)
                    else:
                        os.truncate(self.target / "data" / "big.bin", 48 << 20)
                    results = self.start_together()
                    self.assertEqual(results, [(0, f"verified {len(self.files)}\n", "")] * LAUNCHERS)
                    self.assertEqual(differences(self.target, self.files), [])


class ConcurrentStartsIndexed(ConcurrentStarts):
    """The same for a launcher of an indexed block."""

    @staticmethod
    def make_launcher(app, exe, unpack_spec):
        return build_indexed_launcher(app, exe, "app.exe", "--unpack-spec", unpack_spec)


class LinuxLaunchersTogetherIndexed(LinuxLaunchersTogether):
    """The same for a Linux launcher of an indexed block."""

    @staticmethod
    def make_launcher(app, exe):
        return build_indexed_launcher(app, exe, "app", "--target", "linux")


if __name__ == "__main__":
    unittest.main()
