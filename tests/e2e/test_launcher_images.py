"""Launchers written from the installed stubs: the same input and options
give the same bytes whatever the time, the input's place and file times and
the thread count; an installed packer moved elsewhere, and the one of the
Debian package, write working launchers with an empty PATH; a missing or damaged stub, a block too big for a Windows image
and an output that cannot be written are each refused in one line, leaving
no output."""

import os
import shutil
import subprocess
import time
import unittest
from pathlib import Path

from harness import EXAMPLES, PACKER, REPO, STAGE, WineTestCase, packer, run_wine, windows_path, write_tree

MAGIC = b"zembra launcher\x01"


NATIVE_BUILD = Path(os.environ.get("NATIVE_BUILD_DIR", REPO / "build" / "native"))


def install_copy(root):
    """The packer installed as a user installs it, then moved to `root`, with
    no build tree beside it. Returns the packer's path."""
    root = Path(root)
    first = root.parent / (root.name + ".first")
    subprocess.run(["cmake", "--install", NATIVE_BUILD, "--prefix", first], check=True, capture_output=True)
    first.rename(root)
    return root / "bin" / "zembra"


class Reproducible(WineTestCase):
    def test_same_input_gives_the_same_bytes_for_both_targets(self):
        files = {"app.exe": os.urandom(300000), "data/a.txt": "a\n", "data/deep/b.bin": os.urandom(5000),
                 "z.txt": ""}
        first = write_tree(self.tmp / "one" / "app", files)
        second = self.tmp / "elsewhere" / "much deeper" / "input"
        shutil.copytree(first, second)
        for number, path in enumerate(sorted(second.rglob("*"))):
            os.utime(path, (1e9 + number, 1e9 + number))
        for target in ("windows", "linux"):
            with self.subTest(target):
                common = ["--main", "app.exe", "--target", target, "--company", "Same Co", "--level", "3"]
                packer("build", first, *common, "--threads", "1", "-o", self.tmp / "first")
                time.sleep(1.1)   # a time stamp in any header would differ now
                packer("build", second, *common, "--threads", "3", "-o", self.tmp / "second")
                one, two = (self.tmp / "first").read_bytes(), (self.tmp / "second").read_bytes()
                self.assertGreater(len(one), 300000)
                self.assertTrue(one == two, "the launchers differ")
                for path in (first, REPO, STAGE):   # no path of the packing machine
                    self.assertNotIn(str(path).encode(), one)
                    self.assertNotIn(str(path).encode("utf-16-le"), one)


class RelocatedPacker(WineTestCase):
    def test_a_moved_copy_with_an_empty_path_writes_launchers_that_run(self):
        self.builds_launchers_that_run(install_copy(self.tmp / "opt" / "zembra"))

    def test_the_debian_package_unpacked_anywhere_writes_launchers_that_run(self):
        out = self.tmp / "package"
        subprocess.run(["cpack", "-G", "DEB", "-B", out], cwd=NATIVE_BUILD, check=True, capture_output=True)
        debs = list(out.glob("*.deb"))
        self.assertEqual(len(debs), 1, debs)
        listing = subprocess.run(["dpkg-deb", "-c", debs[0]], check=True, capture_output=True, text=True).stdout
        self.assertIn("./usr/bin/zembra", listing)
        subprocess.run(["dpkg-deb", "-x", debs[0], self.tmp / "root"], check=True)
        self.builds_launchers_that_run(self.tmp / "root" / "usr" / "bin" / "zembra")

    def builds_launchers_that_run(self, moved):
        env = {"PATH": "", "TMPDIR": str(self.tmp)}
        script = write_tree(self.tmp / "script", {"run": "#!/bin/sh\necho \"ran $1\"\nexit 6\n"})
        linux = self.tmp / "Run"
        subprocess.run([str(moved), "build", script, "--main", "run", "--target", "linux", "-o", linux],
                       env=env, check=True, capture_output=True)
        ran = subprocess.run([str(linux), "here"], capture_output=True, text=True,
                             env=dict(os.environ, XDG_CACHE_HOME=str(self.tmp / "cache")))
        self.assertEqual((ran.returncode, ran.stdout), (6, "ran here\n"))

        windows = self.tmp / "Hello.exe"
        subprocess.run([str(moved), "build", EXAMPLES / "hello", "-o", windows, "--unpack-spec",
                        windows_path(self.tmp) + "\\unpacked"], env=env, check=True, capture_output=True)
        run = run_wine(windows, "--exit", "4")
        self.assertEqual(run.returncode, 4, run.out + run.err)
        self.assertIn("Hello from the packed application.", run.out)


class BadInput(WineTestCase):
    def refused(self, command, expected, out):
        result = subprocess.run([str(c) for c in command], capture_output=True, text=True)
        self.assertNotEqual(result.returncode, 0)
        self.assertRegex(result.stderr, r"^zembra: [^\n]+\n$")
        self.assertIn(expected, result.stderr)
        self.assertFalse(Path(out).exists())
        self.assertEqual([p.name for p in Path(out).parent.iterdir() if p.name.startswith(".")], [],
                         "temporary files")

    def test_missing_or_damaged_stubs_are_refused(self):
        moved = install_copy(self.tmp / "inst")
        stubs = self.tmp / "inst" / "lib" / "zembra" / "stubs"
        app = write_tree(self.tmp / "app", {"app.exe": "MZ not run here"})
        good = {name: (stubs / name).read_bytes() for name in ("windows-x64.exe", "linux-x64")}
        launcher = self.tmp / "launcher.exe"
        packer("build", app, "-o", launcher)

        def flipped_magic(stub):
            at = stub.index(MAGIC)
            return stub[:at] + b"Z" + stub[at + 1:]

        cases = [
            # (what, stub file, its new content or None to remove it, text of the line)
            ("missing", "linux-x64", None, "cannot read the linux launcher stub"),
            ("truncated", "windows-x64.exe", good["windows-x64.exe"][:4096], "is unusable: its section"),
            ("truncated", "linux-x64", good["linux-x64"][:3000], "is unusable: its section headers are cut off"),
            ("foreign", "windows-x64.exe", (STAGE / "tests" / "win" / "exit_code.exe").read_bytes(),
             "is unusable: its sections are not aligned to 4096 bytes"),
            ("wrong magic", "windows-x64.exe", flipped_magic(good["windows-x64.exe"]), "its descriptor has no magic"),
            ("wrong magic", "linux-x64", flipped_magic(good["linux-x64"]), "its descriptor has no magic"),
            ("a launcher", "windows-x64.exe", launcher.read_bytes(), "is unusable: it has a .rsrc section already"),
        ]
        out = self.tmp / "out" / "App"
        out.parent.mkdir()
        for what, name, content, expected in cases:
            with self.subTest(what, stub=name):
                if content is None:
                    (stubs / name).unlink()
                else:
                    (stubs / name).write_bytes(content)
                target = "linux" if name == "linux-x64" else "windows"
                for command in ("build", "link"):
                    source = app if command == "build" else launcher
                    self.refused([moved, command, source, "--main", "app.exe", "--target", target, "-o", out]
                                 if command == "build" else [moved, command, source, "--target", target, "-o", out],
                                 expected, out)
                (stubs / name).write_bytes(good[name])

    def test_block_too_big_for_a_windows_image(self):
        block = self.tmp / "huge.bin"
        with open(block, "wb") as sparse:
            sparse.truncate(4 << 30)
        out = self.tmp / "Huge.exe"
        self.refused([PACKER, "link", block, "-o", out], "too big for a Windows image", out)

    def test_output_that_cannot_be_written(self):
        app = write_tree(self.tmp / "app", {"app.exe": "MZ"})
        (self.tmp / "plain-file").write_text("x")
        for what, out, expected in [("missing directory", self.tmp / "no" / "such" / "App.exe", "No such file"),
                                    ("below a file", self.tmp / "plain-file" / "App.exe", "Not a directory")]:
            with self.subTest(what):
                result = packer("build", app, "-o", out, check=False)
                self.assertNotEqual(result.returncode, 0)
                self.assertRegex(result.stderr, r"^zembra: cannot write [^\n]+\n$")
                self.assertIn(expected, result.stderr)
                self.assertFalse(out.exists())


if __name__ == "__main__":
    unittest.main()
