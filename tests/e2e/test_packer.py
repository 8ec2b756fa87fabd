"""The packer from the outside: blocks that Debian's zstd tool reads back,
bad input refused without output, progress only on a terminal, and
launchers written around a block that Wine starts."""

import base64
import os
import pty
import random
import re
import signal
import subprocess
import time
import unittest
from pathlib import Path

from harness import EXAMPLES, PACKER, WineTestCase, local_app_data, packer, run_wine, write_tree
from zembra_block import MAGIC, MAX_ENTRY_NAME_UNITS, parse_block, stored_checksum


def section(exe, name):
    """The raw bytes of one section of a PE image, found with objdump."""
    headers = subprocess.run(["x86_64-w64-mingw32-objdump", "-h", str(exe)], capture_output=True, text=True,
                             check=True).stdout
    for line in headers.splitlines():
        fields = line.split()
        if len(fields) >= 6 and fields[1] == name:
            size, file_offset = int(fields[2], 16), int(fields[5], 16)
            return Path(exe).read_bytes()[file_offset:file_offset + size]
    raise AssertionError(f"no section {name} in {exe}")


def utf16z(text):
    return (text + "\0").encode("utf-16-le")


class PackTest(WineTestCase):
    def test_block_is_one_zstd_frame_holding_every_file_in_order(self):
        rng = random.Random(7)
        files = {
            "app.exe": b"MZ" + bytes(rng.randrange(8) for _ in range(200000)),
            "b.txt": "second at the top",
            "A.txt": "upper case first",
            "empty.dat": b"",
            "zero-crc.bin": bytes.fromhex("9d0ad96d"),
            "lib/x.dll": "x",
            "lib/sub/y.dat": "y",
            "lib.d/v": "v",
            "données/café.txt": "non-ASCII names",
        }
        write_tree(self.tmp / "in", files)
        single = ("--layout", "single-frame")
        packer("pack", self.tmp / "in", "-o", self.tmp / "one.bin", "--threads", "1", *single)
        packer("pack", self.tmp / "in", "-o", self.tmp / "two.bin", "--threads", "2", *single)
        block = (self.tmp / "one.bin").read_bytes()
        self.assertEqual(block, (self.tmp / "two.bin").read_bytes(), "the worker count must not change the block")

        # Magic, exactly one frame that the zstd tool decodes, zero padding
        # and a trailer holding its own offset.
        parsed = parse_block(block)
        (self.tmp / "frame.zst").write_bytes(parsed.frame)
        listing = subprocess.run(["zstd", "-lv", str(self.tmp / "frame.zst")], capture_output=True, text=True)
        self.assertRegex(listing.stdout, r"# Zstandard Frames: 1\b")
        # It states the stream's size, and its window is no larger than the
        # launcher's limit of 128 MiB.
        stream = subprocess.run(["zstd", "-dc", str(self.tmp / "frame.zst")], capture_output=True, check=True).stdout
        self.assertRegex(listing.stdout, rf"Decompressed Size: .*\({len(stream)} B\)")
        window = re.search(r"Window Size: .*\((\d+) B\)", listing.stdout)
        self.assertIsNotNone(window, listing.stdout)
        self.assertLessEqual(int(window.group(1)), 128 << 20)

        self.assertEqual(parsed.rest, b"")
        self.assertEqual([e.name for e in parsed.entries],
                         ["app.exe", "A.txt", "b.txt", "empty.dat", "zero-crc.bin",
                          "donn\u00e9es\\caf\u00e9.txt", "lib\\x.dll", "lib\\sub\\y.dat", "lib.d\\v"])
        for e in parsed.entries:
            content = files[e.name.replace("\\", "/")]
            content = content.encode() if isinstance(content, str) else content
            self.assertEqual(e.data, content, e.name)
            self.assertEqual(e.size, len(content), e.name)
            self.assertEqual(e.stored, stored_checksum(content), e.name)

    def test_empty_input_and_empty_subdirectory_only_warn(self):
        (self.tmp / "empty").mkdir()
        result = packer("pack", self.tmp / "empty", "-o", self.tmp / "empty.bin")
        self.assertIn("warning", result.stderr)
        parsed = parse_block((self.tmp / "empty.bin").read_bytes())
        self.assertEqual((parsed.entries, parsed.rest), ([], b""))

        write_tree(self.tmp / "in", {"app.exe": "MZ"})
        (self.tmp / "in" / "logs").mkdir()
        result = packer("pack", self.tmp / "in", "-o", self.tmp / "in.bin")
        self.assertRegex(result.stderr, r"^zembra: warning: .*'logs'.*\npacked 1 file, [^\n]*\n$")
        entries = parse_block((self.tmp / "in.bin").read_bytes()).entries
        self.assertEqual([e.name for e in entries], ["app.exe"])

    def test_progress_only_on_a_terminal_and_a_summary_always(self):
        write_tree(self.tmp / "in", {"app.exe": os.urandom(3 << 20), "b.txt": "b" * 1000})
        piped = packer("pack", self.tmp / "in", "-o", self.tmp / "piped.bin", "--level", "1")
        block_size = (self.tmp / "piped.bin").stat().st_size
        self.assertRegex(piped.stderr, rf"\Apacked 2 files, 3,146,728 bytes, into a block of {block_size:,} bytes "
                                       rf"\(ratio {3146728 / block_size:.2f}\) in \d+\.\d\d s\n\Z")

        master, slave = pty.openpty()
        process = subprocess.Popen([str(PACKER), "pack", str(self.tmp / "in"), "-o", str(self.tmp / "tty.bin"),
                                    "--level", "1"], stdout=subprocess.DEVNULL, stderr=slave)
        os.close(slave)
        shown = b""
        while True:
            try:
                chunk = os.read(master, 4096)
            except OSError:   # the terminal closes when the packer ends
                break
            if not chunk:
                break
            shown += chunk
        os.close(master)
        self.assertEqual(process.wait(), 0)
        text = shown.decode()
        self.assertRegex(text, r"\rpacking +100%")
        self.assertIn("MB/s", text)
        self.assertRegex(text, r"\r\npacked 2 files, [^\r\n]+\r\n\Z")
        self.assertEqual((self.tmp / "tty.bin").read_bytes(), (self.tmp / "piped.bin").read_bytes())


class HelpTest(WineTestCase):
    def test_help_lists_every_command_and_option(self):
        shown = packer("--help").stdout
        bare = packer(check=False)
        self.assertNotEqual(bare.returncode, 0)
        for text in (shown, bare.stderr):
            for word in ("pack", "link", "build", "-o", "--main", "--company", "--product", "--version",
                         "--unpack-spec", "--description", "--original-filename", "--internal-name", "--icon",
                         "--level", "--window-log", "--threads", "--layout", "--frame-size", "--exclude",
                         "--config", "--help"):
                self.assertRegex(text, rf"(^|\s){re.escape(word)}\b", word)


class InterruptTest(WineTestCase):
    def test_interrupted_packer_leaves_no_output_and_no_scratch(self):
        write_tree(self.tmp / "in", {"app.exe": base64.b64encode(os.urandom(30 << 20))})
        out, scratch = self.tmp / "out", self.tmp / "scratch"
        out.mkdir()
        scratch.mkdir()
        env = dict(os.environ, TMPDIR=str(scratch))
        for command, signal_number, watched in [("pack", signal.SIGINT, out), ("build", signal.SIGTERM, scratch)]:
            with self.subTest(command):
                process = subprocess.Popen([str(PACKER), command, str(self.tmp / "in"), "-o", str(out / "result")],
                                           env=env, stderr=subprocess.DEVNULL)
                # Interrupt once the packer has started writing: its temporary
                # output (pack) or scratch directory (build) exists.
                while not any(watched.iterdir()) and process.poll() is None:
                    time.sleep(0.01)
                process.send_signal(signal_number)
                self.assertEqual(process.wait(), -signal_number)
                self.assertEqual(list(out.iterdir()), [])
                self.assertEqual(list(scratch.iterdir()), [])


class BadInputTest(WineTestCase):
    def arrange(self):
        write_tree(self.tmp / "in", {"app.exe": "MZ", "run.bat": "@echo off", "bin/Run.CMD": "@echo off",
                                     "bin/tool.exe": "MZ"})
        write_tree(self.tmp, {"block.bin": MAGIC, "some-file": "x", "typo.toml": 'level = 3\nprodcut = "X"\n',
                              "main.toml": 'main = "other.exe"\n'})
        odd = self.tmp / "odd"
        odd.mkdir()
        write_tree(odd / "twoexe", {"a.exe": "MZ", "b.exe": "MZ"})
        for kind in ("badname", "toolong", "fifo", "dangling", "loop"):
            write_tree(odd / kind, {"app.exe": "MZ"})
        (odd / "badname" / os.fsdecode(b"caf\xe9.txt")).write_bytes(b"Latin-1 name")
        deep = odd / "toolong" / ("d" * 250) / ("d" * 250) / ("d" * 250) / ("d" * 250)
        deep.mkdir(parents=True)
        (deep / ("f" * (MAX_ENTRY_NAME_UNITS + 1 - 4 * 251))).write_bytes(b"a name one unit too long")
        os.mkfifo(odd / "fifo" / "pipe")
        os.symlink("missing.dll", odd / "dangling" / "gone.dll")
        (odd / "loop" / "sub").mkdir()
        os.symlink("..", odd / "loop" / "sub" / "up")

    def test_each_bad_input_gives_one_line_and_no_output(self):
        self.arrange()
        t = self.tmp
        out = t / "out"
        rows = [
            # (what, arguments, text the line must hold)
            ("missing input directory", ["pack", t / "nope", "-o", out], "nope"),
            ("input is a file", ["pack", t / "some-file", "-o", out], "some-file"),
            ("--main outside the input", ["pack", t / "in", "--main", "../some-file", "-o", out], "--main"),
            ("--main not a regular file", ["pack", t / "in", "--main", "bin", "-o", out], "--main 'bin'"),
            ("--main missing", ["pack", t / "in", "--main", "other.exe", "-o", out], "--main 'other.exe'"),
            ("main is a .bat", ["pack", t / "in", "--main", "run.bat", "-o", out], "run.bat"),
            ("main is a .cmd", ["build", t / "in", "--main", "bin/Run.CMD", "-o", out], "bin/Run.CMD"),
            ("two .exe at the top", ["pack", t / "odd/twoexe", "-o", out], "--main"),
            ("name not UTF-8", ["pack", t / "odd/badname", "-o", out], "caf\\xE9.txt"),
            ("name too long", ["pack", t / "odd/toolong", "-o", out], f"{MAX_ENTRY_NAME_UNITS + 1} UTF-16 units"),
            ("special file", ["pack", t / "odd/fifo", "-o", out], "'pipe'"),
            ("dangling link", ["pack", t / "odd/dangling", "-o", out], "'gone.dll'"),
            ("directory loop", ["pack", t / "odd/loop", "-o", out], "'sub/up'"),
            ("window log above 27", ["pack", t / "in", "--main", "app.exe", "--window-log", "28", "-o", out],
             "--window-log"),
            ("window log below 10", ["build", t / "in", "--main", "app.exe", "--window-log", "9", "-o", out],
             "--window-log"),
            ("unknown option", ["pack", t / "in", "--fast", "-o", out], "--fast"),
            ("missing value", ["pack", t / "in", "-o", out, "--level"], "--level"),
            ("missing block", ["link", t / "nope.bin", "-o", out], "nope.bin"),
            ("block is a directory", ["link", t / "in", "-o", out], "'" + str(t / "in") + "'"),
            ("bad version", ["link", t / "block.bin", "-o", out, "--version", "1.2"], "--version"),
            ("unknown placeholder", ["build", t / "in", "--main", "app.exe", "-o", out, "--unpack-spec", "{CACHE}"],
             "--unpack-spec"),
            ("empty company", ["link", t / "block.bin", "-o", out, "--company", ""], "--company"),
            ("missing icon", ["link", t / "block.bin", "-o", out, "--icon", t / "none.ico"], "none.ico"),
            ("output is a directory", ["pack", t / "in", "--main", "app.exe", "-o", t / "in"], "is a directory"),
            ("main left out", ["pack", t / "in", "--main", "app.exe", "--exclude", "*.exe", "-o", out],
             "--main 'app.exe' is left out by the exclude pattern '*.exe'"),
            ("bad exclude pattern", ["pack", t / "in", "--exclude", "bin\\tool.exe", "-o", out], "backslash"),
            ("project file is a directory", ["pack", t / "in", "--config", t / "odd", "-o", out],
             "project file '" + str(t / "odd") + "' is a directory"),
            ("unknown project key", ["build", t / "in", "--config", t / "typo.toml", "-o", out],
             str(t / "typo.toml") + ":2: unknown key 'prodcut'"),
            ("main from the project file missing", ["pack", t / "in", "--config", t / "main.toml", "-o", out],
             str(t / "main.toml") + ":1: 'main' 'other.exe' does not exist in the input directory"),
        ]
        # Permissions do not stop root: as root, these run as nobody.
        locked = t / "locked"
        write_tree(locked, {"app.exe": "MZ", "sub/x": "x"})
        write_tree(t / "secret", {"app.exe": "MZ", "key.dat": "x"})
        (locked / "sub").chmod(0)
        (t / "secret" / "key.dat").chmod(0)
        self.addCleanup((locked / "sub").chmod, 0o755)
        rows += [
            ("unreadable directory", ["pack", locked, "-o", out], "'sub'", True),
            ("unreadable file", ["pack", t / "secret", "-o", out], "'key.dat'", True),
        ]
        if os.geteuid() == 0:
            t.chmod(0o777)
        for what, args, expected, *unprivileged in rows:
            with self.subTest(what):
                self.addCleanup(out.unlink, missing_ok=True)
                if unprivileged and os.geteuid() == 0:
                    result = subprocess.run(["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups",
                                             str(PACKER), *map(str, args)], capture_output=True, text=True)
                else:
                    result = packer(*args, check=False)
                self.assertNotEqual(result.returncode, 0)
                self.assertRegex(result.stderr, r"^zembra: [^\n]+\n$")
                self.assertIn(expected, result.stderr)
                self.assertFalse(out.exists())
                self.assertEqual([p.name for p in t.iterdir() if p.name.startswith(".")], [], "temporary files")


class LinkTest(WineTestCase):
    def test_link_embeds_any_file_byte_for_byte(self):
        data = b"not a block at all\0" + os.urandom(100000)
        # Paths that break naive quoting for the shell, the assembler and -Wa.
        odd = self.tmp / 'odd "dir", $x'
        odd.mkdir()
        (odd / "da'ta\\.bin").write_bytes(data)
        exe = self.tmp / "Odd, really.exe"
        packer("link", odd / "da'ta\\.bin", "-o", exe)
        # The block opens the image's attached data section, mapped in place.
        self.assertTrue(section(exe, ".attach").startswith(data))

        headers = subprocess.run(["x86_64-w64-mingw32-objdump", "-p", str(exe)], capture_output=True, text=True,
                                 check=True).stdout
        for field, value in [("SizeOfStackReserve", 0x1000000), ("SizeOfStackCommit", 0x1000),
                             ("SizeOfHeapReserve", 0x100000), ("MajorSubsystemVersion", 6),
                             ("MinorSubsystemVersion", 0), ("MajorOSystemVersion", 6), ("MinorOSystemVersion", 0)]:
            match = re.search(rf"^{field}\s+([0-9a-fA-F]+)$", headers, re.M)
            self.assertIsNotNone(match, field)
            self.assertEqual(int(match.group(1), 16), value, field)
        self.assertIn("(Windows GUI)", headers)
        for flag in ("HIGH_ENTROPY_VA", "DYNAMIC_BASE", "NX_COMPAT", "TERMINAL_SERVICE_AWARE"):
            self.assertIn(flag, headers)

        # The launcher starts and finds no magic in what it carries.
        run = run_wine(exe)
        self.assertEqual(run.out, "Error, couldn't find attached data header.\n")
        self.assertEqual(run.returncode, 2)

    def test_build_puts_the_identity_into_the_image_and_uses_it(self):
        hello = EXAMPLES / "hello"
        app = self.tmp / "app"
        write_tree(app, {"hello.exe": (hello / "hello.exe").read_bytes(),
                         "data/greeting.txt": (hello / "data" / "greeting.txt").read_bytes()})
        identity = {"--company": "Zo\u00eb & Co", "--product": "Probe \u2603", "--version": "3.14.159",
                    "--unpack-spec": "{CACHE_DIR}\\{COMPANY}\\{PRODUCT}\\{VERSION}"}
        exe = self.tmp / "Probe.exe"
        packer("build", app, "-o", exe, "--level", "3", *[x for pair in identity.items() for x in pair])
        attached = section(exe, ".attach")
        for value in identity.values():
            self.assertIn(utf16z(value), attached, value)

        run = run_wine(exe, "--exit", "5")
        self.assertEqual(run.returncode, 5, run.out + run.err)
        target = local_app_data() / "Zo\u00eb & Co" / "Probe \u2603" / "3.14.159"
        self.assertEqual((target / "hello.exe").read_bytes(), (app / "hello.exe").read_bytes())
        self.assertEqual((target / "data" / "greeting.txt").read_bytes(),
                         (app / "data" / "greeting.txt").read_bytes())


if __name__ == "__main__":
    unittest.main()
