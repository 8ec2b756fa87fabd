"""Looking into launchers without running them: `zembra list`, `extract`,
`verify` and `info` on Windows and Linux launchers of both layouts agree with
the tree they were built from; verify finds a flipped byte and names the
entry holding it, and finds a cut-short image; extract refuses a block whose
names escape its directory; bad input of any kind gets one line."""

import json
import os
import random
import shutil
import stat
import tempfile
import zlib
from pathlib import Path

from harness import STAGE, WineTestCase, packer, write_tree
from zembra_block import Entry, build_block, build_indexed_block

_random = random.Random(16)


def noise(size):
    """Bytes that do not compress, so the block holds them as they are and a
    flipped byte lands in a known entry."""
    return bytes(_random.getrandbits(8) for _ in range(size))


FILES = {
    "app.exe": b"MZ" + noise(200_000),
    "bin/tool": b"\x7fELF" + noise(1_000),
    "bin/run.sh": b"#!/bin/sh\necho hi\n",
    "lib/a.dll": noise(700_000),
    "lib/deep/b.dat": noise(400_000),
    "data/readme.txt": b"".join(b"line %d of the readme\n" % i for i in range(40_000)),
    "data/empty.txt": b"",
}
# The order the packer writes them in: the main program, then each
# directory's own files before those of its subdirectories.
ORDER = ["app.exe", "bin/run.sh", "bin/tool", "data/empty.txt", "data/readme.txt", "lib/a.dll", "lib/deep/b.dat"]
LAYOUTS = {
    "single-frame": ("--layout", "single-frame", "--level", "3"),
    "indexed": ("--layout", "indexed", "--frame-size", "1", "--level", "3"),
}
TARGETS = {"windows": ("App.exe",), "linux": ("app", "--target", "linux")}


def stored(data):
    return zlib.crc32(data) or 1


def one_line(test, result, *fragments):
    """The command failed with exit status 1 and one line on standard error
    holding every fragment, and printed nothing else."""
    test.assertEqual(result.returncode, 1, result.stdout + result.stderr)
    test.assertEqual(result.stdout, "")
    test.assertEqual(result.stderr.count("\n"), 1, result.stderr)
    test.assertTrue(result.stderr.startswith("zembra: "), result.stderr)
    for fragment in fragments:
        test.assertIn(fragment, result.stderr)


def tree(root):
    """{relative path: bytes} of every file below `root`."""
    root = Path(root)
    return {p.relative_to(root).as_posix(): p.read_bytes() for p in sorted(root.rglob("*")) if p.is_file()}


class InspectTest(WineTestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = Path(tempfile.mkdtemp(prefix="zembra-inspect."))
        write_tree(cls.work / "app", FILES)
        cls.launchers = {}
        for target, (name, *target_options) in TARGETS.items():
            for layout, layout_options in LAYOUTS.items():
                out = cls.work / f"{layout}-{name}"
                packer("build", cls.work / "app", "--main", "app.exe", "-o", out, *target_options, *layout_options)
                cls.launchers[target, layout] = out

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.work, ignore_errors=True)

    def each(self):
        """(target, layout, launcher) of every launcher built."""
        return [(target, layout, launcher) for (target, layout), launcher in self.launchers.items()]

    def test_list_names_every_file_the_main_program_first(self):
        for target, layout, launcher in self.each():
            with self.subTest(target=target, layout=layout):
                lines = packer("list", launcher).stdout.splitlines()
                self.assertEqual(lines[0].split(), ["size", "crc-32", "name"])
                rows = [line.split() for line in lines[1:-1]]
                self.assertEqual([row[2] for row in rows], ORDER)
                self.assertEqual(rows[0][3:], ["(main", "program)"])
                self.assertTrue(all(len(row) == 3 for row in rows[1:]))
                for size, crc, name, *_ in rows:
                    self.assertEqual(int(size.replace(",", "")), len(FILES[name]), name)
                    self.assertEqual(int(crc, 16), stored(FILES[name]), name)
                total = sum(map(len, FILES.values()))
                self.assertIn(f"{target} launcher: 7 files, {total:,} bytes, in a block of ", lines[-1])

                listed = json.loads(packer("list", launcher, "--json").stdout)
                self.assertEqual((listed["kind"], listed["layout"], listed["files"], listed["bytes"]),
                                 (target, layout, 7, total))
                self.assertEqual([(e["name"], e["size"], int(e["crc32"], 16), e["main"]) for e in listed["entries"]],
                                 [(n, len(FILES[n]), stored(FILES[n]), n == "app.exe") for n in ORDER])

    def test_extract_gives_the_input_tree_back_and_leaves_files_in_place_alone(self):
        for target, layout, launcher in self.each():
            with self.subTest(target=target, layout=layout):
                out = self.tmp / f"{target}-{layout}"
                first = packer("extract", launcher, "-o", out)
                self.assertIn("extracted 7 files", first.stdout)
                self.assertEqual(tree(out), FILES)
                mask = os.umask(0)
                os.umask(mask)
                for name, runnable in (("bin/tool", True), ("bin/run.sh", True), ("app.exe", False),
                                       ("lib/a.dll", False)):
                    mode = stat.S_IMODE((out / name).stat().st_mode)
                    self.assertEqual(mode, (0o777 if runnable else 0o666) & ~mask, name)

                before = {name: (out / name).stat().st_mtime_ns for name in ORDER}
                (out / "lib/a.dll").write_bytes(b"changed")
                again = packer("extract", launcher, "-o", out)
                # The empty file counts as missing, as a launcher counts it.
                self.assertIn("2 written, 5 already in place", again.stdout)
                self.assertEqual(tree(out), FILES)
                for name in set(ORDER) - {"lib/a.dll", "data/empty.txt"}:
                    self.assertEqual((out / name).stat().st_mtime_ns, before[name], name)

    def test_verify_passes_and_info_tells_what_it_is_and_where_it_unpacks(self):
        env = dict(os.environ, XDG_CACHE_HOME=str(self.tmp / "cache"))
        for target, layout, launcher in self.each():
            with self.subTest(target=target, layout=layout):
                verified = packer("verify", launcher)
                self.assertRegex(verified.stdout,
                                 rf"intact: {target} launcher, block of [\d,]+ bytes \({layout}\b")
                # "name:  value" lines; notes are indented.
                info = {key: value.strip() for key, value in
                        (line.split(":", 1) for line in packer("info", launcher, env=env).stdout.splitlines()
                         if not line.startswith(" "))}
                self.assertTrue(info["target"].startswith(target), info)
                self.assertTrue(info["layout"].startswith(layout), info)
                self.assertEqual((info["company"], info["product"], info["version"]),
                                 ("Quen Lith", "Quen Lith", "1.0.20"))
                self.assertEqual(info["entries"], f"7 files, {sum(map(len, FILES.values())):,} bytes")
                if target == "windows":
                    self.assertEqual(info["unpack spec"], "{CACHE_DIR}\\Quenlith\\{VERSION}")
                    self.assertEqual(info["unpacks to"], "{CACHE_DIR}\\Quenlith\\1.0.20")
                    self.assertEqual(info["stub version"], "1.0.20.0 (FileVersion of its version resource)")
                else:
                    self.assertEqual(info["unpacks to"], str(self.tmp / "cache" / "Quenlith" / "1.0.20"))
                    self.assertEqual(info["stub version"], "not recorded")

    def test_verify_names_the_entry_holding_a_flipped_byte(self):
        for target, layout, launcher in self.each():
            with self.subTest(target=target, layout=layout):
                image = launcher.read_bytes()
                for name in ("app.exe", "lib/a.dll", "lib/deep/b.dat"):
                    data = FILES[name]
                    for at in (1_000, len(data) // 2, len(data) - 100):
                        where = image.find(data[at:at + 64])
                        self.assertGreater(where, 0, name)
                        damaged = bytearray(image)
                        damaged[where] ^= 0x04
                        bad = self.tmp / "bad"
                        bad.write_bytes(damaged)
                        one_line(self, packer("verify", bad, check=False), f"entry '{name}' at block byte",
                                 "does not match its stored checksum")
                # The magic, before any entry.
                damaged = bytearray(image)
                damaged[json.loads(packer("list", launcher, "--json").stdout)["block_offset"] + 1] ^= 0x01
                (self.tmp / "bad").write_bytes(damaged)
                one_line(self, packer("verify", self.tmp / "bad", check=False), "does not begin with its magic")

    def test_verify_finds_a_cut_short_image(self):
        for target, layout, launcher in self.each():
            with self.subTest(target=target, layout=layout):
                image = launcher.read_bytes()
                for length in (30, len(image) // 2, len(image) - 100):
                    cut = self.tmp / "cut"
                    cut.write_bytes(image[:length])
                    one_line(self, packer("verify", cut, check=False), "cut short")

    def test_extract_refuses_a_block_whose_names_escape_before_writing_anything(self):
        entries = [Entry("app.exe", b"MZ"), Entry("lib\\ok.dll", b"ok")]
        blocks = {
            "dot-dot": build_block(entries + [Entry("..\\evil.txt", b"evil")]),
            "deeper": build_indexed_block(entries + [Entry("lib\\..\\..\\evil.txt", b"evil")]),
            "absolute": build_block(entries + [Entry("\\tmp\\evil.txt", b"evil")]),
            "drive": build_block(entries + [Entry("C:\\evil.txt", b"evil")]),
            "slash": build_indexed_block(entries + [Entry("lib/../../evil.txt", b"evil")]),
            "device": build_block(entries + [Entry("lib\\CON", b"evil")]),
        }
        for what, block in blocks.items():
            with self.subTest(what=what):
                path = self.tmp / f"{what}.bin"
                path.write_bytes(block)
                launcher = self.tmp / f"{what}.exe"
                packer("link", path, "-o", launcher)
                for source in (path, launcher):
                    out = self.tmp / "deep" / "out"
                    one_line(self, packer("extract", source, "-o", out, check=False),
                             "cannot be extracted: its name", "nothing was written")
                    self.assertFalse((self.tmp / "deep").exists())
                    self.assertEqual(list(self.tmp.rglob("evil.txt")), [])
                    # A launcher would write it outside its directory, so
                    # verify counts it as damage.
                    one_line(self, packer("verify", source, check=False), "its name ")

    def test_bad_input_gets_one_line(self):
        (self.tmp / "text.txt").write_text("hello\n")
        (self.tmp / "empty").write_bytes(b"")
        (self.tmp / "folder").mkdir()
        stub = STAGE / "lib" / "zembra" / "stubs" / "windows-x64.exe"
        cases = {
            "text.txt": "not a zembra launcher or block",
            "empty": "it is empty",
            "folder": "is a directory",
            "missing": "No such file or directory",
            str(stub): "launcher stub: nothing is attached",
            "/bin/true": "not a zembra launcher: it has no .zembra section",
        }
        for name, reason in cases.items():
            for command in (["list"], ["extract", "-o", str(self.tmp / "out")], ["verify"], ["info"]):
                with self.subTest(name=name, command=command[0]):
                    one_line(self, packer(command[0], self.tmp / name, *command[1:], check=False), reason)
        self.assertFalse((self.tmp / "out").exists())
