"""The zstd frame inside an attached data block, cut out so that Debian's
zstd tool can decode exactly the bytes the launcher decodes."""

import struct

ZSTD_MAGIC = 0xFD2FB528


def frame_length(data, start):
    """Length of the zstd frame at `start`, walked through its block headers
    (the frame records no length of its own)."""
    if struct.unpack_from("<I", data, start)[0] != ZSTD_MAGIC:
        raise ValueError("no zstd frame after the magic")
    descriptor = data[start + 4]
    single_segment = (descriptor >> 5) & 1
    pos = start + 5
    if not single_segment:
        pos += 1  # window descriptor
    pos += (0, 1, 2, 4)[descriptor & 3]  # dictionary id
    pos += (single_segment, 2, 4, 8)[descriptor >> 6]  # content size
    while True:
        header = data[pos] | data[pos + 1] << 8 | data[pos + 2] << 16
        pos += 3
        block_type, block_size = (header >> 1) & 3, header >> 3
        pos += 1 if block_type == 1 else block_size  # RLE blocks hold one byte
        if header & 1:
            break
    if (descriptor >> 2) & 1:
        pos += 4  # content checksum
    return pos - start


def extract_frame(block_path, frame_path):
    """Writes the block's frame to `frame_path` after checking the magic and
    the trailer; returns the frame's length."""
    data = open(block_path, "rb").read()
    if data[:3] != b"QVR":
        raise ValueError(f"{block_path}: no QVR magic")
    trailer = struct.unpack_from("<Q", data, len(data) - 8)[0]
    length = frame_length(data, 3)
    if not (3 + length <= trailer < 3 + length + 8 and trailer == len(data) - 8):
        raise ValueError(f"{block_path}: the trailer does not match the frame")
    with open(frame_path, "wb") as out:
        out.write(data[3:3 + length])
    return length
