"""The attached data reader under Wine: blocks written here, independently of
the packer (entry stream in Python, frame by Debian's zstd command line), are
linked into launchers with `zembra link`."""

import unittest

import harness
from harness import WineTestCase, link_launcher, run_wine, windows_path
from zembra_block import MAGIC, TRAILER_BYTES, block_around, entry_stream, zstd_frame

HELLO = harness.EXAMPLES / "hello"

HEADER_LINE = "Error, couldn't find attached data header.\n"
DECODE_LINE = "Error, couldn't decode attached data.\n"


class ReaderTest(WineTestCase):
    def setUp(self):
        super().setUp()
        self.target = self.tmp / "target"
        self.files = {
            "hello.exe": (HELLO / "hello.exe").read_bytes(),
            "data\\greeting.txt": (HELLO / "data" / "greeting.txt").read_bytes(),
            "data\\more.bin": bytes(range(256)) * 2000,
        }
        self.stream = entry_stream(self.files.items())

    def launch(self, block_bytes, target=None):
        """Links `block_bytes` into a launcher that unpacks into `target`
        (self.target by default) and starts it."""
        path = self.tmp / "attached.block"
        path.write_bytes(block_bytes)
        exe = link_launcher(path, self.tmp / "App.exe", "--unpack-spec", windows_path(target or self.target))
        return run_wine(exe)

    def assert_unpacked(self, target):
        for name, data in self.files.items():
            self.assertEqual((target / name.replace("\\", "/")).read_bytes(), data, name)

    def test_wrong_magic_stops_before_touching_the_disk(self):
        frame = zstd_frame(self.stream)
        # Each byte of the magic changed in turn.
        for magic in (MAGIC[:i] + b"X" + MAGIC[i + 1:] for i in range(len(MAGIC))):
            with self.subTest(magic=magic):
                run = self.launch(block_around(frame, magic=magic))
                self.assertEqual((run.returncode, run.out, run.err), (2, HEADER_LINE, ""))
                self.assertFalse(self.target.exists())

    def test_undecodable_frames_stop_with_the_decoding_message(self):
        frame = zstd_frame(self.stream)
        wide_window = bytearray(frame)
        self.assertEqual(wide_window[4] & 0x23, 0)  # not single-segment, no dictionary: the window descriptor follows
        wide_window[5] = 0x90  # a window of 2^28 bytes, above the decoder's limit
        cases = {
            "not a frame": b"this is not zstd data at all",
            "window above the limit": bytes(wide_window),
            "frame cut short": frame[: len(frame) // 2],
            "no end marker": zstd_frame(entry_stream(self.files.items(), end_marker=False)),
        }
        for case, frame_bytes in cases.items():
            with self.subTest(case):
                run = self.launch(block_around(frame_bytes))
                self.assertEqual((run.returncode, run.out, run.err), (2, DECODE_LINE, ""))

    def test_frames_of_the_command_line_writer_unpack_exactly(self):
        cases = {
            "level 1": zstd_frame(self.stream, "-1"),
            "level 19, long matching": zstd_frame(self.stream, "-19", "--long=27"),
            "two threads": zstd_frame(self.stream, "-3", "-T2"),
        }
        for index, (case, frame) in enumerate(cases.items()):
            with self.subTest(case):
                target = self.tmp / f"target{index}"
                run = self.launch(block_around(frame), target)
                self.assertEqual(run.returncode, 0, run.out + run.err)
                self.assert_unpacked(target)

    def test_nothing_after_the_end_marker_is_read(self):
        frame = zstd_frame(self.stream)
        cases = {
            "garbage padding and trailer": block_around(frame, padding=b"\x5a", trailer=b"\xee" * TRAILER_BYTES),
            "bytes after the end marker inside the frame":
                block_around(zstd_frame(self.stream + b"\x01\x00trailing")),
        }
        for index, (case, block_bytes) in enumerate(cases.items()):
            with self.subTest(case):
                target = self.tmp / f"target{index}"
                run = self.launch(block_bytes, target)
                self.assertEqual(run.returncode, 0, run.out + run.err)
                self.assert_unpacked(target)


if __name__ == "__main__":
    unittest.main()
