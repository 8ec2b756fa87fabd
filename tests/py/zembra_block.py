"""The attached data block for tests, fuzz seeds and benchmarks: build one
from entries (or from a frame made elsewhere), take one apart again, and the
identity a launcher carries when the packer is given no options.

    magic "QVR" | one zstd frame holding the entry stream | zero padding to
    the next multiple of 8 | trailer: u64 equal to its own offset

The entry stream is, per file, its name as UTF-16LE units and a 0 unit, a
u64 size, a u32 checksum and the data; a lone 0 unit ends it. Integers are
little-endian. Frames are written and decoded by the zstd command line, so
that neither side shares code with the packer or the launcher.

To write a deliberately wrong block, take these constants and change them
(`block_around(frame, magic=MAGIC[:2] + b"X")`), or give an Entry a size or a
checksum of your own."""

import struct
import subprocess
import zlib
from dataclasses import dataclass
from pathlib import Path

MAGIC = b"QVR"
NAME_UNIT_BYTES = 2
ENTRY_FIELDS = "<QI"   # size, stored checksum
ENTRY_FIELD_BYTES = struct.calcsize(ENTRY_FIELDS)
END_MARKER = b"\0" * NAME_UNIT_BYTES
TRAILER_ALIGNMENT = 8
TRAILER = "<Q"
TRAILER_BYTES = struct.calcsize(TRAILER)

# A name's units with their terminator fit the launcher's name buffer, and
# target directory, separator and name fit a path buffer.
ENTRY_NAME_CAPACITY = 1024
MAX_ENTRY_NAME_UNITS = ENTRY_NAME_CAPACITY - 1
PATH_CAPACITY = 4096

ZSTD_MAGIC = 0xFD2FB528

# ---- identity defaults -----------------------------------------------------

DEFAULT_COMPANY = "Quen Lith"
DEFAULT_PRODUCT = "Quen Lith"
DEFAULT_VERSION = "1.0.20"   # the version block shows it with a fourth part, ".0"
DEFAULT_UNPACK_FOLDER = "Quenlith"
DEFAULT_UNPACK_SPEC = "{CACHE_DIR}\\" + DEFAULT_UNPACK_FOLDER + "\\{VERSION}"
DEFAULT_LINUX_UNPACK_SPEC = "{CACHE_DIR}/" + DEFAULT_UNPACK_FOLDER + "/{VERSION}"
DEFAULT_DESCRIPTION = "Quen Lith"
DEFAULT_ORIGINAL_FILENAME = "Quenlith.exe"
DEFAULT_INTERNAL_NAME = "Quenlith"


def default_target(cache_dir, version=DEFAULT_VERSION):
    """Where a launcher with the default unpack spec unpacks, below the
    user's cache folder (local application data on Windows)."""
    return Path(cache_dir) / DEFAULT_UNPACK_FOLDER / version


# ---- building --------------------------------------------------------------

def stored_checksum(data):
    """What an entry stores for `data`: its CRC-32, with 1 in place of 0."""
    return zlib.crc32(data) or 1


@dataclass
class Entry:
    """One file of the entry stream. `size` and `stored` default to what a
    correct writer stores; give them to write a wrong header."""
    name: str
    data: bytes
    size: int = None
    stored: int = None

    def __post_init__(self):
        if self.size is None:
            self.size = len(self.data)
        if self.stored is None:
            self.stored = stored_checksum(self.data)

    def to_bytes(self):
        return name_bytes(self.name) + struct.pack(ENTRY_FIELDS, self.size, self.stored) + self.data


def name_bytes(name):
    """A name as the stream holds it: UTF-16LE units and the 0 unit."""
    return name.encode("utf-16-le") + b"\0" * NAME_UNIT_BYTES


def entry_stream(entries, end_marker=True):
    """The entries, as Entry objects or (name, data) pairs, then the end
    marker unless told otherwise."""
    entries = [e if isinstance(e, Entry) else Entry(*e) for e in entries]
    return b"".join(e.to_bytes() for e in entries) + (END_MARKER if end_marker else b"")


def zstd_frame(data, *options):
    """One frame written by the zstd command line from a pipe (so with no
    content size in its header), with its `options`."""
    return subprocess.run(["zstd", "-q", "-c", *options], input=data, capture_output=True, check=True).stdout


def padding_length(body_size):
    """Zero bytes after `body_size` bytes of magic and frame."""
    return -body_size % TRAILER_ALIGNMENT


def block_around(frame, magic=MAGIC, padding=b"\0", trailer=None):
    """Magic, `frame`, padding made of the byte `padding`, and the trailer
    (its own offset unless `trailer` gives other bytes)."""
    body = magic + frame
    body += padding * padding_length(len(body))
    return body + (trailer if trailer is not None else struct.pack(TRAILER, len(body)))


def build_block(entries, *zstd_options, end_marker=True, **block_options):
    """A whole block for `entries` (see entry_stream), the frame written with
    `zstd_options`, the rest as block_around takes it."""
    return block_around(zstd_frame(entry_stream(entries, end_marker), *zstd_options), **block_options)


# ---- taking apart ----------------------------------------------------------

class BlockError(ValueError):
    """The bytes do not have the layout of a block."""


@dataclass
class Block:
    frame: bytes
    padding: bytes
    trailer: int
    stream: bytes = None    # the decoded frame
    entries: list = None    # Entry objects, up to the end marker
    rest: bytes = None      # the stream after the end marker


def frame_length(data, start):
    """Length of the zstd frame at `start`, walked through its block headers
    (the frame records no length of its own)."""
    if len(data) < start + 6 or struct.unpack_from("<I", data, start)[0] != ZSTD_MAGIC:
        raise BlockError("no zstd frame after the magic")
    descriptor = data[start + 4]
    single_segment = (descriptor >> 5) & 1
    pos = start + 5
    if not single_segment:
        pos += 1  # window descriptor
    pos += (0, 1, 2, 4)[descriptor & 3]  # dictionary id
    pos += (single_segment, 2, 4, 8)[descriptor >> 6]  # content size
    while True:
        if pos + 3 > len(data):
            raise BlockError("the frame is cut short")
        header = data[pos] | data[pos + 1] << 8 | data[pos + 2] << 16
        pos += 3
        block_type, block_size = (header >> 1) & 3, header >> 3
        pos += 1 if block_type == 1 else block_size  # RLE blocks hold one byte
        if header & 1:
            break
    if (descriptor >> 2) & 1:
        pos += 4  # content checksum
    if pos > len(data):
        raise BlockError("the frame is cut short")
    return pos - start


def decode_frame(frame):
    """The content of `frame`, decoded by the zstd command line."""
    result = subprocess.run(["zstd", "-d", "-c", "-q"], input=frame, capture_output=True)
    if result.returncode != 0:
        raise BlockError("the frame does not decode: " + result.stderr.decode(errors="replace").strip())
    return result.stdout


def parse_stream(stream):
    """(entries, rest): the Entry objects up to the end marker and the bytes
    after it."""
    entries, pos = [], 0
    while True:
        end = pos
        while stream[end:end + NAME_UNIT_BYTES] != END_MARKER:
            if end + NAME_UNIT_BYTES > len(stream):
                raise BlockError("the stream ends inside a name")
            end += NAME_UNIT_BYTES
        name = stream[pos:end].decode("utf-16-le")
        pos = end + NAME_UNIT_BYTES
        if not name:
            return entries, stream[pos:]
        if pos + ENTRY_FIELD_BYTES > len(stream):
            raise BlockError("the stream ends inside a header")
        size, stored = struct.unpack_from(ENTRY_FIELDS, stream, pos)
        pos += ENTRY_FIELD_BYTES
        if pos + size > len(stream):
            raise BlockError("the stream ends inside the data of " + name)
        entries.append(Entry(name, stream[pos:pos + size], size, stored))
        pos += size


def parse_block(block, decode=True):
    """Checks that `block` is the magic, exactly one zstd frame, zero padding
    up to the next multiple of 8 and a trailer holding its own offset, and
    nothing more; with `decode`, also decodes the frame and parses the
    stream. Raises BlockError naming what is wrong."""
    if block[:len(MAGIC)] != MAGIC:
        raise BlockError("no magic")
    length = frame_length(block, len(MAGIC))
    body_size = len(MAGIC) + length
    trailer_at = body_size + padding_length(body_size)
    if len(block) != trailer_at + TRAILER_BYTES:
        raise BlockError(f"{len(block)} bytes, where magic, frame, padding and trailer make "
                         f"{trailer_at + TRAILER_BYTES}")
    padding = block[body_size:trailer_at]
    if padding != bytes(len(padding)):
        raise BlockError("the padding is not zero")
    (trailer,) = struct.unpack_from(TRAILER, block, trailer_at)
    if trailer != trailer_at:
        raise BlockError(f"the trailer holds {trailer}, not its offset {trailer_at}")
    result = Block(block[len(MAGIC):body_size], padding, trailer)
    if decode:
        result.stream = decode_frame(result.frame)
        result.entries, result.rest = parse_stream(result.stream)
    return result


def extract_frame(block_path, frame_path):
    """Writes the frame of the block at `block_path` to `frame_path`, after
    checking the block's layout; returns the frame's length."""
    frame = parse_block(Path(block_path).read_bytes(), decode=False).frame
    Path(frame_path).write_bytes(frame)
    return len(frame)
