"""The attached data block for tests, fuzz seeds and benchmarks: build one
from entries (or from a frame made elsewhere), take one apart again, and the
identity a launcher carries when the packer is given no options.

    magic "QVR" | one zstd frame holding the entry stream | zero padding to
    the next multiple of 8 | trailer: u64 equal to its own offset

or, in the indexed layout, the magic, a skippable frame holding an index of
every entry and frame, the entry stream cut into frames at entry
boundaries, padding and trailer (see "the index of an indexed block" below).

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


def check_ending(block, body_size, body):
    """(padding, trailer) after the `body_size` bytes of `body` (named in
    messages): zero padding up to the next multiple of 8, then a trailer
    holding its own offset, and nothing more."""
    trailer_at = body_size + padding_length(body_size)
    if len(block) != trailer_at + TRAILER_BYTES:
        raise BlockError(f"{len(block)} bytes, where {body}, padding and trailer make "
                         f"{trailer_at + TRAILER_BYTES}")
    padding = block[body_size:trailer_at]
    if padding != bytes(len(padding)):
        raise BlockError("the padding is not zero")
    (trailer,) = struct.unpack_from(TRAILER, block, trailer_at)
    if trailer != trailer_at:
        raise BlockError(f"the trailer holds {trailer}, not its offset {trailer_at}")
    return padding, trailer


def parse_block(block, decode=True):
    """Checks that `block` is the magic, exactly one zstd frame, zero padding
    up to the next multiple of 8 and a trailer holding its own offset, and
    nothing more; with `decode`, also decodes the frame and parses the
    stream. Raises BlockError naming what is wrong. An indexed block goes to
    parse_indexed_block, whose result has the same `stream`, `entries` and
    `rest`."""
    if block[:len(MAGIC)] != MAGIC:
        raise BlockError("no magic")
    if is_indexed(block):
        return parse_indexed_block(block, decode)
    length = frame_length(block, len(MAGIC))
    body_size = len(MAGIC) + length
    padding, trailer = check_ending(block, body_size, "magic, frame")
    result = Block(block[len(MAGIC):body_size], padding, trailer)
    if decode:
        result.stream = decode_frame(result.frame)
        result.entries, result.rest = parse_stream(result.stream)
    return result


# ---- the index of an indexed block ------------------------------------------
#
#   magic | skippable frame holding the index | frame 0 | frame 1 | ... |
#   padding | trailer
#
# The frames' contents, one after another, are the entry stream, and each
# frame begins and ends at an entry boundary. The skippable frame is a u32
# magic, a u32 length and the index: its header, a record per frame, a
# record per entry with the name's units, and a CRC-32 of all of it.

INDEX_FRAME_MAGIC = 0x184D2A5A
INDEX_FRAME_HEADER = "<II"   # skippable magic, length of the index
INDEX_FRAME_HEADER_BYTES = struct.calcsize(INDEX_FRAME_HEADER)
INDEX_MAGIC = b"QVRI"
INDEX_VERSION = 1
INDEX_HEADER = "<4sIII"      # magic, version, frame count, entry count
INDEX_FRAME_RECORD = "<QQQ"  # block offset, compressed size, content size
INDEX_ENTRY_RECORD = "<IQQIH"   # frame, name's offset in its content, size, stored checksum, name units
INDEX_CHECKSUM = "<I"


@dataclass
class IndexFrame:
    offset: int            # from the block's first byte
    compressed_size: int
    content_size: int


@dataclass
class IndexEntry:
    frame: int
    offset: int            # of its name within the frame's content
    size: int
    stored: int
    name: str


@dataclass
class Index:
    frames: list
    entries: list
    magic: bytes = INDEX_MAGIC
    version: int = INDEX_VERSION


def index_frame(index, checksum=None):
    """The skippable frame holding `index`, with its CRC-32 unless
    `checksum` gives another value."""
    content = struct.pack(INDEX_HEADER, index.magic, index.version, len(index.frames), len(index.entries))
    for frame in index.frames:
        content += struct.pack(INDEX_FRAME_RECORD, frame.offset, frame.compressed_size, frame.content_size)
    for entry in index.entries:
        units = entry.name.encode("utf-16-le")
        content += struct.pack(INDEX_ENTRY_RECORD, entry.frame, entry.offset, entry.size, entry.stored,
                               len(units) // NAME_UNIT_BYTES) + units
    content += struct.pack(INDEX_CHECKSUM, zlib.crc32(content) if checksum is None else checksum)
    return struct.pack(INDEX_FRAME_HEADER, INDEX_FRAME_MAGIC, len(content)) + content


def indexed_parts(entries, frame_sizes=None, zstd_options=()):
    """(frames, index) for `entries` (Entry objects or (name, data) pairs)
    cut into frames of `frame_sizes` entries each (default: one entry per
    frame), the end marker in the last; each frame written by the zstd
    command line with `zstd_options` and its content size in its header."""
    entries = [e if isinstance(e, Entry) else Entry(*e) for e in entries]
    frame_sizes = list(frame_sizes) if frame_sizes is not None else [1] * max(len(entries), 1)
    assert sum(frame_sizes) == len(entries), "every entry in one frame"
    contents, index_entries, first = [], [], 0
    for number, count in enumerate(frame_sizes):
        content = b""
        for entry in entries[first:first + count]:
            index_entries.append(IndexEntry(number, len(content), entry.size, entry.stored, entry.name))
            content += entry.to_bytes()
        contents.append(content)
        first += count
    contents[-1] += END_MARKER
    frames = [zstd_frame(content, f"--stream-size={len(content)}", *zstd_options) for content in contents]
    index = Index([], index_entries)
    index.frames = [IndexFrame(0, len(frame), len(content)) for frame, content in zip(frames, contents)]
    offset = len(MAGIC) + len(index_frame(index))   # the index's length depends only on counts and names
    for record, frame in zip(index.frames, frames):
        record.offset = offset
        offset += len(frame)
    return frames, index


def indexed_block(frames, index, checksum=None, **block_options):
    """Magic, the index, `frames`, padding and trailer; block_options as
    block_around takes them. Change `index` (or give a `checksum`) to write a
    damaged one."""
    return block_around(index_frame(index, checksum) + b"".join(frames), **block_options)


def build_indexed_block(entries, frame_sizes=None, zstd_options=(), **block_options):
    """A whole indexed block for `entries` (see indexed_parts)."""
    return indexed_block(*indexed_parts(entries, frame_sizes, zstd_options), **block_options)


@dataclass
class IndexedBlock:
    index: Index
    index_frame: bytes      # the skippable frame as the block holds it
    frames: list            # each frame's bytes, in block order
    padding: bytes
    trailer: int
    contents: list = None   # each frame decoded on its own
    stream: bytes = None    # the contents, one after another
    entries: list = None
    rest: bytes = None


def is_indexed(block):
    """Whether a skippable frame follows the magic."""
    return (len(block) >= len(MAGIC) + 4 and
            struct.unpack_from("<I", block, len(MAGIC))[0] == INDEX_FRAME_MAGIC)


def parse_index(block):
    """(index, end): the index after the magic, checked against its CRC-32,
    and the offset where the skippable frame ends. Raises BlockError."""
    start = len(MAGIC)
    if len(block) < start + INDEX_FRAME_HEADER_BYTES:
        raise BlockError("the block ends inside the index's frame header")
    magic, length = struct.unpack_from(INDEX_FRAME_HEADER, block, start)
    if magic != INDEX_FRAME_MAGIC:
        raise BlockError("no skippable frame after the magic")
    content = block[start + INDEX_FRAME_HEADER_BYTES:start + INDEX_FRAME_HEADER_BYTES + length]
    checksum_bytes = struct.calcsize(INDEX_CHECKSUM)
    if len(content) != length or length < struct.calcsize(INDEX_HEADER) + checksum_bytes:
        raise BlockError("the index is cut short")
    body = content[:-checksum_bytes]
    (checksum,) = struct.unpack(INDEX_CHECKSUM, content[-checksum_bytes:])
    if checksum != zlib.crc32(body):
        raise BlockError("the index's checksum does not hold")
    index_magic, version, frame_count, entry_count = struct.unpack_from(INDEX_HEADER, body)
    index = Index([], [], index_magic, version)
    pos = struct.calcsize(INDEX_HEADER)
    try:
        for _ in range(frame_count):
            index.frames.append(IndexFrame(*struct.unpack_from(INDEX_FRAME_RECORD, body, pos)))
            pos += struct.calcsize(INDEX_FRAME_RECORD)
        for _ in range(entry_count):
            frame, offset, size, stored, units = struct.unpack_from(INDEX_ENTRY_RECORD, body, pos)
            pos += struct.calcsize(INDEX_ENTRY_RECORD)
            name = body[pos:pos + units * NAME_UNIT_BYTES]
            if len(name) != units * NAME_UNIT_BYTES:
                raise BlockError("the index ends inside a name")
            pos += len(name)
            index.entries.append(IndexEntry(frame, offset, size, stored, name.decode("utf-16-le")))
    except struct.error:
        raise BlockError("the index ends inside a record") from None
    if pos != len(body):
        raise BlockError("bytes between the index's last entry and its checksum")
    return index, start + INDEX_FRAME_HEADER_BYTES + length


def parse_indexed_block(block, decode=True):
    """Checks that `block` is the magic, an index whose checksum holds, the
    frames it lists one after another from the end of the index, zero padding
    and the trailer, and nothing more; with `decode`, also decodes each frame
    alone (to the content size listed) and parses their contents as one
    stream. Raises BlockError naming what is wrong."""
    if block[:len(MAGIC)] != MAGIC:
        raise BlockError("no magic")
    index, index_end = parse_index(block)
    pos = index_end
    if index.magic != INDEX_MAGIC or index.version != INDEX_VERSION:
        raise BlockError("not an index this module knows")
    frames = []
    for number, record in enumerate(index.frames):
        if record.offset != pos:
            raise BlockError(f"frame {number} is listed at {record.offset}, where the frames before end at {pos}")
        length = frame_length(block, pos)
        if length != record.compressed_size:
            raise BlockError(f"frame {number} is {length} bytes, listed as {record.compressed_size}")
        frames.append(block[pos:pos + length])
        pos += length
    padding, trailer = check_ending(block, pos, "magic, index, frames")
    result = IndexedBlock(index, block[len(MAGIC):index_end], frames, padding, trailer)
    if decode:
        result.contents = [decode_frame(frame) for frame in frames]
        for number, (content, record) in enumerate(zip(result.contents, index.frames)):
            if len(content) != record.content_size:
                raise BlockError(f"frame {number} holds {len(content)} bytes, listed as {record.content_size}")
        result.stream = b"".join(result.contents)
        result.entries, result.rest = parse_stream(result.stream)
    return result


def extract_frames(block_path, frames_path):
    """Writes what lies between the magic and the padding of the block at
    `block_path` to `frames_path`, after checking the block's layout: the
    frame of a single-frame block, or the index and the frames of an indexed
    one, which the zstd command line decodes alike. Returns its length."""
    parsed = parse_block(Path(block_path).read_bytes(), decode=False)
    frames = parsed.frame if isinstance(parsed, Block) else parsed.index_frame + b"".join(parsed.frames)
    Path(frames_path).write_bytes(frames)
    return len(frames)
