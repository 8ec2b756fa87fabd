"""Launchers of one application started at the same moment on an empty or
damaged cache: every one of them must start its child on whole files.
Without the unpack lock a later launcher truncates and rewrites files that
an earlier one's child already runs on. And a launcher that holds the lock
and stalls must not hold up the others for good: they go on after a bound.
Windows launchers run under Wine, Linux launchers natively.

ZEMBRA_ROUNDS sets the number of rounds (a stress run uses 20 or more)."""

import os
import re
import shutil
import signal
import subprocess
import tempfile
import time
import unittest
from pathlib import Path

from harness import WINE, WIN_TOOLS, WineTestCase, build_indexed_launcher, build_launcher, packer, run_wine, windows_path
from verified_app import START_TOGETHER, VERIFY_POSIX_SOURCE, differences, make_app, rounds
from zembra_block import default_target

LAUNCHERS = 8

# How long a launcher waits for the unpack lock before it goes on without it
# (unpack_lock_wait_ms), and how much longer a test gives it on a busy machine.
LOCK_WAIT = 30
LOCK_WAIT_MARGIN = 90


def unpack_lock_name(directory):
    """The name of the named mutex that Windows launchers unpacking into
    `directory` share: FNV-1a over the UTF-16 units of the path with ASCII
    letters upper-cased, '/' read as '\\' and trailing separators dropped."""
    units = [ord("\\") if c == "/" else ord(c.upper()) if "a" <= c <= "z" else ord(c) for c in directory]
    while len(units) > 1 and units[-1] == ord("\\"):
        units.pop()
    value = 0xcbf29ce484222325
    for unit in units:
        for byte in (unit & 0xFF, unit >> 8):
            value = ((value ^ byte) * 0x100000001b3) & 0xFFFFFFFFFFFFFFFF
    return "Local\\zembra-unpack-%016x" % value


def holds_flock(pid, path):
    """Whether process `pid` holds a flock on the file or directory `path`."""
    inode = os.stat(path).st_ino
    for line in Path("/proc/locks").read_text().splitlines():
        fields = line.split()
        if fields[1] == "FLOCK" and int(fields[4]) == pid and int(fields[5].split(":")[2]) == inode:
            return True
    return False


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
        return build_launcher(app, exe, "--main", "app.exe", "--layout", "single-frame", "--unpack-spec", unpack_spec)

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

    def test_a_launcher_goes_on_when_the_lock_holder_has_stalled(self):
        # A suspended process that holds the lock, and never lets it go
        # while the launcher runs.
        shutil.rmtree(self.cache, ignore_errors=True)
        holder = subprocess.Popen([WINE, str(WIN_TOOLS / "hold_mutex.exe"), unpack_lock_name(windows_path(self.cache))],
                                  stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        try:
            self.assertEqual(holder.stdout.readline(), "held\n")
            run = run_wine(self.launcher, timeout=LOCK_WAIT + LOCK_WAIT_MARGIN)
            self.assertEqual((run.returncode, run.out, run.err), (0, "verified 7\n", ""))
            self.assertEqual(differences(self.cache, self.files), [])
            self.assertIsNone(holder.poll(), "the lock was held throughout")
        finally:
            holder.stdin.close()
            holder.wait(timeout=60)
            holder.stdout.close()


class LinuxLaunchersTogether(unittest.TestCase):
    runs_linux_launcher = True

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

    def test_a_launcher_goes_on_when_the_lock_holder_is_stopped(self):
        env = dict(os.environ, XDG_CACHE_HOME=str(self.cache))
        verified = (0, f"verified {len(self.files)}\n", "")

        def start():
            return subprocess.Popen([str(self.launcher)], env=env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                    stderr=subprocess.PIPE, text=True)

        # Stopped while it writes the large file, after the main program is
        # closed (a program open for writing cannot be started): it holds the
        # lock, and its file half written. A launcher that ended before the
        # stop came is started again.
        big = self.target / "data" / "big.bin"
        for _ in range(5):
            shutil.rmtree(self.cache, ignore_errors=True)
            first = start()
            while first.poll() is None and not (big.exists() and big.stat().st_size > 0):
                time.sleep(0.001)
            if first.poll() is None:
                os.kill(first.pid, signal.SIGSTOP)
                if holds_flock(first.pid, self.target):
                    break
                os.kill(first.pid, signal.SIGCONT)
            first.communicate(timeout=120)
        else:
            self.fail("the first launcher never held the lock when it was stopped")
        try:
            second = start()
            out, err = second.communicate(timeout=LOCK_WAIT + LOCK_WAIT_MARGIN)
            self.assertEqual((second.returncode, out, err), verified)
            self.assertTrue(holds_flock(first.pid, self.target), "the lock was held throughout")
        finally:
            os.kill(first.pid, signal.SIGCONT)
            out, err = first.communicate(timeout=120)
        # Going on, the first writes the rest of its file over the one the
        # second wrote, with the same bytes.
        self.assertEqual((first.returncode, out, err), verified)
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
