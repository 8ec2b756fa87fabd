"""Indexed blocks for the end-to-end tests, written here apart from the
packer: the packer's single-frame block is decoded with Debian's zstd command
line, its entry stream cut into frames at entry boundaries, each frame
compressed again by the command line, and the index put in front of them as
src/payload/block_index.h lays it out. `Layout` tells where each part of the
result lies, for tests that damage one."""

import struct
import subprocess
import zlib
from dataclasses import dataclass, field
from pathlib import Path

MAGIC = b"QVR"
INDEX_FRAME_MAGIC = 0x184D2A5A
INDEX_MAGIC = b"QVRI"
INDEX_VERSION = 1
END_MARKER = b"\0\0"


def stream_of_block(block):
    """The entry stream of a single-frame block: its frame ends where the zero
    padding before the trailer begins, which the zstd command line finds by
    decoding."""
    assert block[:3] == MAGIC
    (trailer,) = struct.unpack("<Q", block[-8:])
    body = block[3:trailer]
    for padding in range(8):
        if padding and body[-padding:] != bytes(padding):
            break
        decoded = subprocess.run(["zstd", "-d", "-c", "-q"], input=body[:len(body) - padding], capture_output=True)
        if decoded.returncode == 0:
            return decoded.stdout
    raise ValueError("the frame does not decode")


def split_entries(stream):
    """Each entry of the stream as (name, size, stored checksum, its bytes in
    the stream); the end marker must close it."""
    entries, at = [], 0
    while True:
        end = at
        while stream[end:end + 2] != b"\0\0":
            end += 2
        if end == at:
            assert stream[at:] == END_MARKER, "bytes after the end marker"
            return entries
        name = stream[at:end].decode("utf-16-le")
        size, stored = struct.unpack("<QI", stream[end + 2:end + 14])
        entries.append((name, size, stored, stream[at:end + 14 + size]))
        at = end + 14 + size


def zstd_frame(content, level=1, window_log=None):
    """One frame that states its content size, written by the command line."""
    options = [f"-{level}", "--no-check", f"--stream-size={len(content)}"]
    if window_log:
        options.append(f"--long={window_log}")
    return subprocess.run(["zstd", "-q", "-c", *options], input=content, capture_output=True, check=True).stdout


@dataclass
class Layout:
    block: bytes
    index_content: int = 11            # where the index's content starts
    index_length: int = 0              # its length, checksum included
    frames: list = field(default_factory=list)          # (offset, compressed size) of each frame
    entry_records: list = field(default_factory=list)   # where each entry's record starts
    frame_of: dict = field(default_factory=dict)        # entry name -> its frame's number

    def resealed(self, block):
        """`block` with the index checksum made right again after an edit."""
        block = bytearray(block)
        checked = self.index_length - 4
        start = self.index_content
        block[start + checked:start + checked + 4] = struct.pack("<I", zlib.crc32(block[start:start + checked]))
        return bytes(block)


def indexed_from_entries(entries, frame_target, level=1, window_log=None):
    """The indexed block of `entries` (as split_entries gives them): a frame
    closes at the first entry boundary at or past `frame_target` bytes of
    content; the last one also holds the end marker."""
    groups, current, size = [], [], 0
    for entry in entries:
        current.append(entry)
        size += len(entry[3])
        if size >= frame_target:
            groups.append(current)
            current, size = [], 0
    if current or not groups:
        groups.append(current)
    contents = [b"".join(e[3] for e in group) for group in groups]
    contents[-1] += END_MARKER
    frames = [zstd_frame(content, level, window_log) for content in contents]

    records = b""
    layout = Layout(block=b"")
    length = 16 + 24 * len(frames) + sum(26 + 2 * len(e[0]) for e in entries) + 4
    layout.index_length = length
    offset = layout.index_content + length
    frame_records = b""
    for frame, content in zip(frames, contents):
        layout.frames.append((offset, len(frame)))
        frame_records += struct.pack("<QQQ", offset, len(frame), len(content))
        offset += len(frame)
    header = INDEX_MAGIC + struct.pack("<III", INDEX_VERSION, len(frames), len(entries))
    at = layout.index_content + len(header) + len(frame_records)
    for number, group in enumerate(groups):
        within = 0
        for name, size, stored, raw in group:
            units = name.encode("utf-16-le")
            layout.entry_records.append(at + len(records))
            layout.frame_of[name] = number
            records += struct.pack("<IQQIH", number, within, size, stored, len(units) // 2) + units
            within += len(raw)
    content = header + frame_records + records
    content += struct.pack("<I", zlib.crc32(content))
    assert len(content) == length
    block = MAGIC + struct.pack("<II", INDEX_FRAME_MAGIC, length) + content + b"".join(frames)
    block += bytes(-len(block) % 8)
    layout.block = block + struct.pack("<Q", len(block))
    return layout


def indexed_from_block(block, frame_target, level=1, window_log=None):
    """The indexed block holding the same entry stream as the single-frame
    `block`."""
    return indexed_from_entries(split_entries(stream_of_block(block)), frame_target, level, window_log)


def build_indexed_launcher(app, exe, main, *link_options, frame_target=4 << 20):
    """A launcher of `app` whose block is indexed: packed by the packer,
    indexed here, linked by the packer with `link_options`."""
    from harness import packer

    single = Path(exe).with_suffix(".single-block")
    packer("pack", app, "--main", main, "--level", "1", "-o", single)
    indexed = Path(exe).with_suffix(".indexed-block")
    indexed.write_bytes(indexed_from_block(single.read_bytes(), frame_target).block)
    packer("link", indexed, "-o", exe, *link_options)
    return Path(exe)
