"""Faults under Wine: launchers killed while they unpack, a write that fails
on a full disk, a changed file held open by a running child, and extremes of
the environment and the command line. Also the packer against a directory
that changes while it is packed.

ZEMBRA_ROUNDS sets the number of rounds of the repeated tests (a stress run
uses 20 or more)."""

import json
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import time
import unittest
from pathlib import Path

from harness import (PACKER, WIN_TOOLS, WINE, WINESERVER, WineTestCase, build_indexed_launcher, build_launcher,
                     run_wine, windows_path, write_tree)
from verified_app import START_TOGETHER, differences, make_app, rounds
from zembra_block import default_target, parse_block, stored_checksum

EXIT_CODE = WIN_TOOLS / "exit_code.exe"
PROBE = WIN_TOOLS / "probe.exe"


def bytes_below(folder):
    total = 0
    for base, _, names in os.walk(folder):
        for name in names:
            try:
                total += os.stat(os.path.join(base, name)).st_size
            except FileNotFoundError:
                pass
    return total


class KilledWhileUnpacking(WineTestCase):
    """A launcher killed at any point of its first unpack leaves a cache that
    the next start repairs: the application runs on whole files."""

    @classmethod
    def setUpClass(cls):
        cls.shared = Path(tempfile.mkdtemp(prefix="zembra-killed."))
        sizes = {f"lib/part{i:02d}.dll": 1 << 20 for i in range(16)}
        sizes.update({"data/empty.txt": 0, "data/small.txt": 100, "data/large.bin": 16 << 20})
        cls.files = make_app(cls.shared / "app", sizes)
        cls.total = sum(len(content) for content in cls.files.values())
        cls.cache = cls.shared / "cache"
        cls.launcher = cls.make_launcher(cls.shared / "app", cls.shared / "launcher.exe", windows_path(cls.cache))

    @staticmethod
    def make_launcher(app, exe, unpack_spec):
        return build_launcher(app, exe, "--main", "app.exe", "--layout", "single-frame", "--unpack-spec", unpack_spec)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.shared, ignore_errors=True)

    def test_next_start_after_a_kill_runs_on_whole_files(self):
        count = rounds(6)
        killed_early = 0
        for round_number in range(count):
            # Kill once this share of the application is on disk: spread
            # over the whole unpack, from before the first file to the last.
            threshold = self.total * round_number // count
            with self.subTest(round=round_number, threshold=threshold):
                shutil.rmtree(self.cache, ignore_errors=True)
                launcher = subprocess.Popen([WINE, str(self.launcher)], stdin=subprocess.DEVNULL,
                                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                while launcher.poll() is None and bytes_below(self.cache) < threshold:
                    time.sleep(0.001)
                if launcher.poll() is None:
                    launcher.kill()
                    killed_early += differences(self.cache, self.files) != []
                launcher.wait()

                run = run_wine(self.launcher)
                self.assertEqual(run.returncode, 0, run.out + run.err)
                self.assertEqual(run.out, f"verified {len(self.files)}\n")
                self.assertEqual(differences(self.cache, self.files), [])
        print(f"\n  killed {killed_early} of {count} launchers before their unpack was whole", file=sys.stderr)


class KilledWhileUnpackingIndexed(KilledWhileUnpacking):
    """The same for a launcher of an indexed block, whose cold start writes
    from several frames at once."""

    @staticmethod
    def make_launcher(app, exe, unpack_spec):
        return build_indexed_launcher(app, exe, "app.exe", "--unpack-spec", unpack_spec)


class FullDisk(WineTestCase):
    def test_failed_write_is_reported_and_the_next_start_repairs(self):
        disk = self.tmp / "disk"
        disk.mkdir()
        mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=4m", "tmpfs", str(disk)], capture_output=True,
                                 text=True)
        if mounted.returncode != 0:
            self.skipTest("a small tmpfs cannot be mounted here (needs root and the right to mount): "
                          + mounted.stderr.strip() + "; the unit tests cover a failed write over the fake")
        self.addCleanup(subprocess.run, ["umount", "-l", str(disk)], capture_output=True)
        files = make_app(self.tmp / "app", {"data/first.bin": 3 << 20, "lib/second.dll": 3 << 20, "z.txt": 10})
        launcher = build_launcher(self.tmp / "app", self.tmp / "launcher.exe", "--main", "app.exe",
                                  "--unpack-spec", windows_path(disk) + "\\cache")
        for round_number in range(rounds(1)):
            with self.subTest(round=round_number):
                shutil.rmtree(disk / "cache", ignore_errors=True)
                subprocess.run(["mount", "-o", "remount,size=4m", str(disk)], check=True)
                run = run_wine(launcher)
                self.assertEqual(run.returncode, 2)
                self.assertEqual(run.out, "")
                match = re.fullmatch(r"Error, couldn't unpack file to target path\. \(\[Error (\d+)\] [^\n]*\)\n",
                                     run.err)
                self.assertIsNotNone(match, run.err)
                # Windows fails the write with ERROR_DISK_FULL; Wine reports the
                # part that fitted as written, which the launcher reports as a
                # write fault.
                self.assertIn(int(match.group(1)), (112, 29))
                self.assertNotEqual(differences(disk / "cache", files), [])

                subprocess.run(["mount", "-o", "remount,size=64m", str(disk)], check=True)
                run = run_wine(launcher)
                self.assertEqual(run.returncode, 0, run.out + run.err)
                self.assertEqual(run.out, f"verified {len(files)}\n")
                self.assertEqual(differences(disk / "cache", files), [])


class HeldByARunningChild(WineTestCase):
    def test_changed_main_executable_in_use_stops_with_the_open_message(self):
        sizes = {"data/a.bin": 200000, "lib/b.dll": 5000}
        old = make_app(self.tmp / "v1", sizes, seed=1)
        new = make_app(self.tmp / "v2", sizes, seed=2, exe_tail=b"\0version 2")
        cache = self.tmp / "cache"
        launchers = [build_launcher(self.tmp / v, self.tmp / f"{v}.exe", "--main", "app.exe",
                                    "--unpack-spec", windows_path(cache)) for v in ("v1", "v2")]

        for round_number in range(rounds(1)):
            with self.subTest(round=round_number):
                shutil.rmtree(cache, ignore_errors=True)
                first = subprocess.Popen([WINE, str(launchers[0])], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                         stderr=subprocess.DEVNULL, env=dict(os.environ, VERIFY_HOLD="1"))
                self.addCleanup(first.communicate)   # ends the input: a child still holding goes
                self.assertEqual(first.stdout.readline(), f"verified {len(old)}\r\n".encode())
                self.assertEqual(first.stdout.readline(), b"holding\r\n")

                run = run_wine(launchers[1])
                self.assertEqual(run.returncode, 2)
                self.assertEqual(run.out, "")
                self.assertEqual(run.err, f"Error, failed to open '{windows_path(cache)}\\app.exe' for writing.\n")
                self.assertEqual(differences(cache, old), [], "the first version stays whole")

                first.communicate()
                self.assertEqual(first.returncode, 0)
                run = run_wine(launchers[1])
                self.assertEqual(run.returncode, 0, run.out + run.err)
                self.assertEqual(differences(cache, new), [])


def probe_report(text):
    line = next((l for l in text.splitlines() if l.startswith('{"command_line"')), None)
    return json.loads(line) if line else None


class EnvironmentExtremes(WineTestCase):
    @classmethod
    def setUpClass(cls):
        cls.shared = Path(tempfile.mkdtemp(prefix="zembra-extremes."))
        app = cls.shared / "app"
        app.mkdir()
        shutil.copy(PROBE, app / "probe.exe")
        cls.launcher = build_launcher(app, cls.shared / "launcher.exe", "--unpack-spec",
                                      windows_path(cls.shared) + "\\cache-{PID}")

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.shared, ignore_errors=True)

    def test_inherited_parent_of_32767_digits_is_replaced(self):
        for round_number in range(rounds(1)):
            with self.subTest(round=round_number):
                run = run_wine(EXIT_CODE, windows_path(self.launcher), "launcher",
                               env={"ZEMBRA_ONEFILE_PARENT": "9" * 32767})
                pid = re.search(r"^pid=(\d+)$", run.out, re.M).group(1)
                self.assertRegex(run.out, r"(?m)^exit=0$")
                self.assertEqual(probe_report(run.out)["env"]["ZEMBRA_ONEFILE_PARENT"], pid)
                self.assertTrue((self.shared / f"cache-{pid}" / "probe.exe").is_file())

    def test_command_line_of_the_longest_length_and_longer(self):
        # The system starts a program with at most 32766 units of command
        # line (32767 with the NUL); the launcher builds lines up to that and
        # stops without a word before a longer one.
        module = windows_path(self.launcher)
        cases = [(32766, True), (32767, False), (32768, False)]
        for round_number, (length, fits) in [(r, c) for r in range(rounds(1)) for c in cases]:
            with self.subTest(round=round_number, length=length):
                argument = "a" * (length - len(module) - 2) + "z"
                line_file = self.tmp / "line.txt"
                line_file.write_text("x " + argument)
                report_file = self.tmp / f"report-{length}.json"
                run = run_wine(START_TOGETHER, 1, "@" + windows_path(line_file), module,
                               env={"PROBE_OUT": windows_path(report_file)})
                if fits:
                    self.assertEqual(run.out, "exit[0]=0\n", run.err)
                    report = json.loads(report_file.read_text())
                    self.assertEqual(report["command_line"], module + " " + argument)
                    self.assertEqual(report["argv"], [module, argument])
                else:
                    self.assertEqual((run.out, run.err), ("exit[0]=2\n", ""))
                    self.assertFalse(report_file.exists(), "the child never starts")

    def test_local_app_data_with_spaces_and_non_ascii_characters(self):
        # A prefix of its own: the folder is a setting of the Wine user that
        # the other tests share.
        prefix = self.tmp / "prefix"
        env = {"WINEPREFIX": str(prefix), "WINEDEBUG": "-all"}
        full_env = dict(os.environ, **env)
        subprocess.run([WINE, "wineboot", "-i"], env=full_env, capture_output=True, timeout=600)
        subprocess.run([WINESERVER, "-k"], env=full_env, capture_output=True)
        subprocess.run([WINESERVER, "-p"], env=full_env, check=True)
        self.addCleanup(subprocess.run, [WINESERVER, "-k"], env=full_env, capture_output=True)
        # The first program of a new server starts the prefix's services,
        # which would hold on to the standard streams of whatever started them.
        subprocess.run([WINE, "wineboot"], env=full_env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=600)

        folder_name = "\u00c4pp D\u00e4t\u00e4 \u2713 \u4e2d"
        users = prefix / "drive_c" / "users"
        home = next(p for p in sorted(users.iterdir()) if p.name != "Public")
        (home / folder_name / "Local").mkdir(parents=True)
        run = run_wine("reg", "add", "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders",
                       "/v", "Local AppData", "/t", "REG_EXPAND_SZ", "/d", f"%USERPROFILE%\\{folder_name}\\Local",
                       "/f", env=env)
        self.assertEqual(run.returncode, 0, run.out + run.err)

        files = make_app(self.tmp / "app", {"data/a b \u00e9.txt": 1000, "lib/x.dll": 5000})
        launcher = build_launcher(self.tmp / "app", self.tmp / "launcher.exe", "--main", "app.exe")
        target = default_target(home / folder_name / "Local")
        for round_number in range(rounds(1)):
            with self.subTest(round=round_number):
                shutil.rmtree(target.parent, ignore_errors=True)
                run = run_wine(launcher, env=env)
                self.assertEqual(run.returncode, 0, run.out + run.err)
                self.assertEqual(run.out, f"verified {len(files)}\n")
                self.assertEqual(differences(target, files), [])


class PackerUnderChange(unittest.TestCase):
    """Files that change, grow, shrink or vanish while the packer reads them
    give a clear error or a block whose every entry agrees with its data."""

    def test_changing_directory_gives_an_error_or_a_consistent_block(self):
        work = Path(tempfile.mkdtemp(prefix="zembra-packer."))
        self.addCleanup(shutil.rmtree, work, True)
        app = work / "app"
        size = 256 << 10
        names = [f"dir{i % 3}/file{i:02d}.bin" for i in range(24)]
        write_tree(app, {"app.exe": b"MZ main", **{n: os.urandom(size) for n in names}})

        # Even rounds only rewrite bytes in place, so the packer reads files
        # that change under it but keep their size, and must give a block;
        # odd rounds also grow, shrink, remove and recreate files.
        resizing = threading.Event()
        stop = threading.Event()
        one_change = threading.Lock()   # held by each change, and while rounds switch

        def change_files():
            generator = random.Random(7)
            while not stop.is_set():
                path = app / generator.choice(names)
                with one_change:
                    change(generator, path, generator.randrange(5) if resizing.is_set() else 0)

        def change(generator, path, action):
            try:
                if action == 0:
                    with open(path, "r+b") as f:
                        f.seek(generator.randrange(max(path.stat().st_size - 4096, 1)))
                        f.write(os.urandom(4096))
                elif action == 1:
                    with open(path, "ab") as f:
                        f.write(os.urandom(8192))
                elif action == 2:
                    os.truncate(path, generator.randrange(size))
                elif action == 3:
                    path.unlink()
                else:
                    path.write_bytes(os.urandom(size))
            except OSError:
                pass

        changer = threading.Thread(target=change_files)
        changer.start()
        outcomes = {"error": 0, "block": 0}
        try:
            for round_number in range(rounds(10)):
                with self.subTest(round=round_number):
                    with one_change:
                        if round_number % 2:
                            resizing.set()
                        else:
                            resizing.clear()
                            for name in names:   # whole again, for a round that keeps sizes
                                (app / name).write_bytes(os.urandom(size))
                    block = work / f"block-{round_number}.bin"
                    run = subprocess.run([str(PACKER), "pack", str(app), "--main", "app.exe", "--level", "1",
                                          "-o", str(block)], capture_output=True, text=True, timeout=300)
                    if run.returncode != 0:
                        outcomes["error"] += 1
                        self.assertTrue(round_number % 2, "sizes kept, yet: " + run.stderr)
                        self.assertRegex(run.stderr.strip(), r"\A[^\n]*'dir\d/file\d\d\.bin'[^\n]*\Z")
                        self.assertFalse(block.exists(), "no block after an error")
                        continue
                    outcomes["block"] += 1
                    entries = parse_block(block.read_bytes()).entries
                    self.assertEqual(entries[0].name, "app.exe")
                    for e in entries:
                        self.assertEqual(len(e.data), e.size, e.name)
                        self.assertEqual(e.stored, stored_checksum(e.data), e.name)
        finally:
            stop.set()
            changer.join()
        print(f"\n  packer under change: {outcomes}", file=sys.stderr)


if __name__ == "__main__":
    unittest.main()
