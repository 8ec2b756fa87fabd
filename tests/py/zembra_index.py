"""Indexed blocks for tests and fuzz seeds, beside zembra_block: build one
from entries (or from the stream of a single-frame block), find where each
of its parts lies, and damage it on purpose.

    magic "QVR" | skippable frame holding the index | frame 0 | frame 1 | ...
    | zero padding to the next multiple of 8 | trailer

The index (src/payload/block_index.h): "QVRI", u32 version, u32 frame count,
u32 entry count; per frame u64 block offset, u64 compressed size, u64
content size; per entry u32 frame, u64 offset of its name in the frame's
content, u64 size, u32 stored checksum, u16 name length and the name's
UTF-16LE units; last the CRC-32 of everything before it. Frames are written
by the zstd command line, so that neither the packer nor the launcher is
used to make what they are tested with."""

import struct
import subprocess
import zlib
from dataclasses import dataclass, field

from zembra_block import END_MARKER, MAGIC, TRAILER, Entry, padding_length, parse_block

INDEX_FRAME_MAGIC = 0x184D2A5A
INDEX_MAGIC = b"QVRI"
INDEX_VERSION = 1
INDEX_FRAME_HEADER = "<II"         # skippable magic, content length
INDEX_HEADER = "<4sIII"           # magic, version, frame count, entry count
FRAME_RECORD = "<QQQ"             # offset, compressed size, content size
ENTRY_RECORD = "<IQQIH"           # frame, offset, size, stored, name length
INDEX_START = len(MAGIC) + struct.calcsize(INDEX_FRAME_HEADER)


def zstd_frame(content, level=1, window_log=None):
    """One frame that states its content size, written by the command line."""
    options = [f"-{level}", "--no-check", f"--stream-size={len(content)}"]
    if window_log:
        options.append(f"--long={window_log}")
    return subprocess.run(["zstd", "-q", "-c", *options], input=content, capture_output=True, check=True).stdout


@dataclass
class IndexedBlock:
    block: bytes
    index_length: int = 0                               # of the index content, its checksum included
    frames: list = field(default_factory=list)          # (offset, compressed size) of each frame
    frame_records: list = field(default_factory=list)   # where each frame's record starts
    entry_records: list = field(default_factory=list)   # where each entry's record starts
    frame_of: dict = field(default_factory=dict)        # entry name -> the number of its frame

    def changed(self, at, value, size, reseal=True):
        """The block with `size` bytes at `at` set to `value`, the index
        checksum made right again unless told otherwise."""
        block = bytearray(self.block)
        block[at:at + size] = value.to_bytes(size, "little")
        if reseal:
            checked = self.index_length - 4
            block[INDEX_START + checked:INDEX_START + self.index_length] = struct.pack(
                "<I", zlib.crc32(block[INDEX_START:INDEX_START + checked]))
        return bytes(block)

    def undecodable(self, keep=()):
        """The block with every frame but those numbered in `keep` made
        undecodable after its header (a reserved block type), the index
        intact: a launcher that decodes one of them stops."""
        block = bytearray(self.block)
        for number, (offset, size) in enumerate(self.frames):
            if number not in keep:
                start = offset + frame_header_size(block[offset:offset + 18])
                block[start:offset + size] = b"\xff" * (offset + size - start)
        return bytes(block)


def frame_header_size(frame):
    """Bytes of a zstd frame's header: magic, descriptor, window, dictionary
    and content size fields."""
    descriptor = frame[4]
    single_segment = (descriptor >> 5) & 1
    size = 5 + (0 if single_segment else 1) + (0, 1, 2, 4)[descriptor & 3]
    return size + (single_segment, 2, 4, 8)[descriptor >> 6]


def build_indexed(entries, frame_target, level=1, window_log=None):
    """The indexed block of `entries` (Entry objects or (name, data) pairs):
    a frame closes at the first entry boundary at or past `frame_target`
    bytes of content; the last one also holds the end marker, alone when the
    entries filled the frame before it."""
    entries = [e if isinstance(e, Entry) else Entry(*e) for e in entries]
    groups, current, size = [], [], 0
    for entry in entries:
        current.append(entry)
        size += len(entry.to_bytes())
        if size >= frame_target:
            groups.append(current)
            current, size = [], 0
    if current or not groups:
        groups.append(current)
    contents = [b"".join(e.to_bytes() for e in group) for group in groups]
    contents[-1] += END_MARKER
    frames = [zstd_frame(content, level, window_log) for content in contents]

    result = IndexedBlock(block=b"")
    length = (struct.calcsize(INDEX_HEADER) + struct.calcsize(FRAME_RECORD) * len(frames)
              + sum(struct.calcsize(ENTRY_RECORD) + len(e.name.encode("utf-16-le")) for e in entries) + 4)
    result.index_length = length
    index = struct.pack(INDEX_HEADER, INDEX_MAGIC, INDEX_VERSION, len(frames), len(entries))
    offset = INDEX_START + length
    for frame, content in zip(frames, contents):
        result.frame_records.append(INDEX_START + len(index))
        result.frames.append((offset, len(frame)))
        index += struct.pack(FRAME_RECORD, offset, len(frame), len(content))
        offset += len(frame)
    for number, group in enumerate(groups):
        within = 0
        for entry in group:
            units = entry.name.encode("utf-16-le")
            result.entry_records.append(INDEX_START + len(index))
            result.frame_of[entry.name] = number
            index += struct.pack(ENTRY_RECORD, number, within, entry.size, entry.stored, len(units) // 2) + units
            within += len(entry.to_bytes())
    index += struct.pack("<I", zlib.crc32(index))
    assert len(index) == length
    body = MAGIC + struct.pack(INDEX_FRAME_HEADER, INDEX_FRAME_MAGIC, length) + index + b"".join(frames)
    body += bytes(padding_length(len(body)))
    result.block = body + struct.pack(TRAILER, len(body))
    return result


def indexed_from_block(block, frame_target, level=1, window_log=None):
    """The indexed block holding the entries of the single-frame `block`."""
    return build_indexed(parse_block(block).entries, frame_target, level, window_log)

