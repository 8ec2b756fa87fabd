"""The packer as a Windows program, zembra.exe under Wine: it writes the same
bytes as the Linux packer for both targets and both layouts, also from a
long input path that is not ASCII and with an icon it has to scale; it
refuses bad input with the Linux packer's very lines; Ctrl+C leaves no
partial output and no scratch folder; it looks into launchers (list,
verify, extract, info) as the Linux packer does; and it ships as one zip."""

import filecmp
import os
import random
import shutil
import struct
import subprocess
import unittest
import zipfile
import zlib
from pathlib import Path

from harness import PREFIX, REPO, STAGE, WIN_TOOLS, WineTestCase, local_app_data, packer, run_wine, windows_path, \
    write_tree

ZEMBRA_EXE = STAGE / "bin" / "zembra.exe"
WINDOWS_BUILD = Path(os.environ.get("WINDOWS_BUILD_DIR", REPO / "build" / "windows"))
# Wine reads its command line in the locale's encoding.
UTF8 = {"LC_ALL": "C.UTF-8"}
INTERRUPTED = 0xC000013A


def windows_packer(*args, cwd=None, timeout=300):
    return run_wine(ZEMBRA_EXE, *args, cwd=cwd, env=UTF8, timeout=timeout)


def png(width, height, pixel, colour_type=2):
    """A PNG of `pixel(x, y)` tuples: RGB (colour type 2) by default."""
    rows = b"".join(b"\0" + b"".join(bytes(pixel(x, y)) for x in range(width)) for y in range(height))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    header = struct.pack(">IIBBBBB", width, height, 8, colour_type, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b"")


class SameBytes(WineTestCase):
    def both(self, cwd, *args):
        """Builds with both packers from `cwd`, relative paths alike, into
        files of one name (a product's OriginalFilename follows it); returns
        the two launchers."""
        for side in ("linux", "windows"):
            (Path(cwd) / side).mkdir(exist_ok=True)
        packer(*args, "-o", "linux/App.exe", cwd=cwd)
        run = windows_packer(*args, "-o", "windows/App.exe", cwd=cwd)
        self.assertEqual(run.returncode, 0, run.err)
        return (Path(cwd) / "linux" / "App.exe").read_bytes(), (Path(cwd) / "windows" / "App.exe").read_bytes()

    def test_both_targets_and_layouts(self):
        rng = random.Random(14)
        write_tree(self.tmp / "app", {"app.exe": rng.randbytes(200000), "data/a.txt": "a\n" * 500,
                                      "data/deep/b.bin": rng.randbytes(5000), "z.txt": ""})
        for target in ("windows", "linux"):
            for layout in ("single-frame", "indexed"):
                with self.subTest(target=target, layout=layout):
                    linux, windows = self.both(self.tmp, "build", "app", "--main", "app.exe", "--target", target,
                                               "--layout", layout, "--product", "Same Product", "--level", "5")
                    self.assertGreater(len(linux), 200000)
                    self.assertTrue(linux == windows, "the launchers differ")

    def test_long_non_ascii_input_path_with_an_icon_to_scale(self):
        deep = self.tmp / "ünïcødé 文件夹" / ("é" * 100) / ("x" * 120) / ("y" * 100) / "app"
        self.assertGreater(len(windows_path(deep)), 300)
        write_tree(deep, {"app.exe": os.urandom(50000), "données/è.txt": "è\n", "icon.png":
                          png(300, 300, lambda x, y: (x % 256, y % 256, (x * y) % 256))})
        relative = deep.relative_to(self.tmp)
        linux, windows = self.both(self.tmp, "build", relative, "--icon", relative / "icon.png")
        self.assertTrue(linux == windows, "the launchers differ")


class SameErrors(WineTestCase):
    def test_bad_input_gets_the_same_line(self):
        write_tree(self.tmp, {"app/app.exe": "MZ", "two/a.exe": "", "two/b.exe": "", "plain": "x",
                              "loop/app.exe": "", "case/app.exe": "", "case/A.txt": "", "case/a.TXT": "",
                              "accents/app.exe": "", "accents/é.txt": "", "accents/É.txt": "",
                              "dev/app.exe": "", "dev/NUL.txt": "", "colon/app.exe": "", "colon/a:b": "",
                              "fifo/app.exe": "", "icons/bad.png": "not a picture", "icons/empty.ico":
                              b"\0\0\1\0\0\0", "icons/odd.png": png(20, 10, lambda x, y: (1, 2, 3))})
        (self.tmp / "empty").mkdir()
        (self.tmp / "loop" / "sub").mkdir()
        os.symlink("..", self.tmp / "loop" / "sub" / "up")
        os.mkfifo(self.tmp / "fifo" / "pipe")
        cases = [
            ("build", "nowhere", "-o", "out"),
            ("build", "plain", "-o", "out"),
            ("build", "two", "-o", "out"),
            ("build", "loop", "-o", "out"),
            ("build", "case", "-o", "out"),
            ("build", "accents", "-o", "out"),
            ("build", "dev", "-o", "out"),
            ("build", "colon", "-o", "out"),
            ("build", "fifo", "-o", "out"),
            ("build", "app", "--main", "none.exe", "-o", "out"),
            ("build", "app", "--main", "../app.exe", "-o", "out"),
            ("build", "app", "-o", "plain/out"),
            ("build", "app", "-o", "no/such/out"),
            ("build", "app", "-o", "empty"),
            ("build", "app", "--icon", "icons/bad.png", "-o", "out"),
            ("build", "app", "--icon", "icons/empty.ico", "-o", "out"),
            ("build", "app", "--icon", "icons/odd.png", "-o", "out"),
            ("build", "app", "--icon", "icons/none.png", "-o", "out"),
            ("build", "app", "--level", "99", "-o", "out"),
            ("build", "app", "--product", "CON", "-o", "out"),
            ("link", "nothing.bin", "-o", "out"),
            ("link", "empty", "-o", "out"),
        ]
        before = sorted(p.name for p in self.tmp.iterdir())
        for args in cases:
            with self.subTest(" ".join(args)):
                linux = packer(*args, check=False, cwd=self.tmp)
                windows = windows_packer(*args, cwd=self.tmp)
                self.assertNotEqual(linux.returncode, 0)
                self.assertRegex(linux.stderr, r"^zembra: [^\n]+\n$")
                self.assertEqual((windows.returncode, windows.err), (linux.returncode, linux.stderr))
                self.assertEqual(windows.stderr_bytes, linux.stderr.encode(), "not UTF-8 with plain line ends")
                self.assertEqual(sorted(p.name for p in self.tmp.iterdir()), before, "output left behind")


class Interrupted(WineTestCase):
    """Ctrl+C delivered as a console delivers it, while the packer compresses."""

    def interrupt(self, command, wait_for):
        rng = random.Random(3)
        write_tree(self.tmp / "big", {"app.exe": bytes(rng.choice(b"abcdefghij") for _ in range(4 << 20))})
        (self.tmp / "out").mkdir()
        line = "zembra.exe " + command + " big --threads 1 --level 19 -o out\\App.exe"
        run = run_wine(WIN_TOOLS / "console_event.exe", windows_path(ZEMBRA_EXE), line, wait_for, "0",
                       cwd=self.tmp, timeout=600)
        self.assertIn("delivered=1", run.out, run.out + run.err)
        self.assertIn(f"launcher_exit={INTERRUPTED}", run.out, run.out + run.err)
        self.assertEqual(list((self.tmp / "out").iterdir()), [], "partial output")

    def test_pack_removes_its_partial_output(self):
        self.interrupt("pack", windows_path(self.tmp / "out") + "\\.App.exe.*")

    def test_build_removes_its_scratch_folder(self):
        temp = local_app_data().parent.parent / "Temp"   # Wine's %TEMP%
        if not temp.is_dir():
            temp = local_app_data() / "Temp"
        left = {p.name for p in temp.glob("packer.*")}
        self.interrupt("build", windows_path(temp) + "\\packer.*")
        self.assertEqual({p.name for p in temp.glob("packer.*")}, left, "scratch folder left")


class SameInspection(WineTestCase):
    """list, verify, extract and info of zembra.exe against the Linux
    packer's, on launchers of both targets and layouts, given by absolute
    paths that begin with a slash (which Windows programs often take for
    options)."""

    def test_list_verify_and_extract_agree_with_the_linux_packer(self):
        rng = random.Random(16)
        tree = {"app.exe": rng.randbytes(30000), "data/a.txt": "a\n" * 300, "data/é/b.bin": rng.randbytes(3000),
                "z.txt": ""}
        write_tree(self.tmp / "app", tree)
        for target in ("windows", "linux"):
            for layout in ("single-frame", "indexed"):
                with self.subTest(target=target, layout=layout):
                    app = self.tmp / f"{target}-{layout}.app"
                    packer("build", self.tmp / "app", "--main", "app.exe", "--target", target, "--layout", layout, "-o", app)
                    for command in (["list"], ["list", "--json"], ["verify"], ["info"]):
                        linux = packer(*command, app, check=False)
                        windows = windows_packer(*command, app)
                        self.assertEqual(linux.returncode, 0, linux.stderr)
                        if command == ["info"]:
                            # Only the folders a Windows launcher finds may differ.
                            self.assertEqual(windows.returncode, 0, windows.err)
                            self.assertIn(f"target:       {target}", windows.out)
                            continue
                        self.assertEqual((windows.returncode, windows.out, windows.err),
                                         (linux.returncode, linux.stdout, linux.stderr), command)
                    out = self.tmp / f"out-{target}-{layout}"
                    run = windows_packer("extract", app, "-o", out)
                    self.assertEqual(run.returncode, 0, run.err)
                    same = filecmp.dircmp(self.tmp / "app", out)
                    self.assertEqual((same.left_only, same.right_only, same.diff_files), ([], [], []))
                    for name in tree:
                        self.assertEqual((out / name).read_bytes(), (self.tmp / "app" / name).read_bytes(), name)

    def test_damage_gets_the_same_line(self):
        write_tree(self.tmp / "app", {"app.exe": random.Random(5).randbytes(20000), "b.txt": "b" * 5000})
        app = self.tmp / "App.exe"
        packer("build", self.tmp / "app", "--layout", "single-frame", "-o", app)
        data = bytearray(app.read_bytes())
        block = int(packer("list", "--json", app).stdout.split('"block_offset": ')[1].split(",")[0])
        data[block + 200] ^= 0x40
        damaged = self.tmp / "Damaged.exe"
        damaged.write_bytes(bytes(data))
        cut = self.tmp / "Cut.exe"
        cut.write_bytes(bytes(data[:block + 100]))
        for app in (damaged, cut, self.tmp / "app", self.tmp / "none.exe"):
            for command in ("verify", "list"):
                with self.subTest(app=app.name, command=command):
                    linux = packer(command, app, check=False)
                    windows = windows_packer(command, app)
                    if command == "verify":
                        self.assertNotEqual(linux.returncode, 0)
                    self.assertEqual((windows.returncode, windows.out, windows.err),
                                     (linux.returncode, linux.stdout, linux.stderr))


class Shipped(unittest.TestCase):
    def test_the_zip_holds_the_packer_its_stubs_and_data(self):
        out = WINDOWS_BUILD / "package-test"
        shutil.rmtree(out, ignore_errors=True)
        subprocess.run(["cpack", "-G", "ZIP", "-B", str(out)], cwd=WINDOWS_BUILD, check=True, capture_output=True)
        zips = list(out.glob("*.zip"))
        self.assertEqual(len(zips), 1, zips)
        with zipfile.ZipFile(zips[0]) as archive:
            names = {name.split("/", 1)[1] for name in archive.namelist() if "/" in name}
            self.assertTrue({"bin/zembra.exe", "lib/zembra/stubs/windows-x64.exe", "lib/zembra/stubs/linux-x64",
                             "share/zembra/res/launcher.manifest", "share/zembra/res/icons/icon-16.png"} <= names,
                            sorted(names))
            inside = next(name for name in archive.namelist() if name.endswith("bin/zembra.exe"))
            self.assertEqual(archive.read(inside), ZEMBRA_EXE.read_bytes())
        shutil.rmtree(out, ignore_errors=True)


if __name__ == "__main__":
    unittest.main()
