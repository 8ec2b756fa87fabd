"""Writes the seed corpora of the fuzz targets into OUT/<target>/: small
inputs in each target's input format (see the comment at the top of each
fuzz_*.cpp). Blocks are compressed with the zstd command line and, when a
packer is given, also made by the packer from small directories.

usage: make_seeds.py OUT [PACKER]"""

import os
import struct
import zlib
import subprocess
import sys
import tempfile
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "py"))

from zembra_block import (DEFAULT_UNPACK_SPEC, END_MARKER, INDEX_FRAME_HEADER_BYTES, INDEX_MAGIC, MAGIC, MAX_ENTRY_NAME_UNITS, PATH_CAPACITY,  # noqa: E402
                          Entry, block_around, build_indexed_block, frame_groups, parse_stream, zstd_frame)


def units(text):
    return text.encode("utf-16-le")


# ---- read path -------------------------------------------------------------

def entry(name, data, stored=None):
    return Entry(name, data, stored=stored).to_bytes()


END = END_MARKER


FAST = ("--no-check", "-1")


def block_of(stream):
    return block_around(zstd_frame(stream, *FAST))


STREAMS = {
    "one": entry("app.exe", b"MZ program") + END,
    "tree": entry("app.exe", b"MZ") + entry("data\\a.txt", b"alpha\n" * 20) + entry("data\\sub\\b.bin", bytes(range(256)))
    + entry("lib\\empty.dll", b"") + END,
    "only-end": END,
    "stored-zero": entry("app.exe", b"abc", stored=0) + END,
    "long-name": entry("n" * MAX_ENTRY_NAME_UNITS, b"x") + END,
    "odd-names": entry("..\\up.txt", b"u") + entry("C:\\abs", b"a") + entry("a\\\\b\\", b"b") + END,
    "size-past-end": Entry("app.exe", b"short", size=1 << 40, stored=1).to_bytes() + END,
    "no-end": entry("app.exe", b"MZ"),
    "big": entry("app.exe", bytes(70000)) + entry("second.dat", b"2" * 40000) + END,
}


def read_path_seeds(packer):
    streams = STREAMS
    seeds = {}
    for name, stream in streams.items():
        seeds[f"stream-{name}"] = bytes([0x01, 0xFF]) + stream
        seeds[f"block-{name}"] = bytes([0x00, 0xFF]) + block_of(stream)
    tree = streams["tree"]
    seeds["stream-tree-twice"] = bytes([0x09, 0xFF]) + tree
    seeds["stream-tree-no-lock"] = bytes([0x03, 0xFF]) + tree
    seeds["stream-tree-long-target"] = bytes([0x05, 0xFF]) + tree
    seeds["stream-tree-no-home"] = bytes([0x11, 0xFF]) + tree
    seeds["stream-tree-write-fails"] = bytes([0x01, 0x01]) + tree
    seeds["stream-tree-short-write"] = bytes([0x01, 0x82]) + tree
    seeds["block-bad-magic"] = bytes([0x00, 0xFF]) + MAGIC[:-1] + b"X" + block_of(tree)[len(MAGIC):]
    if packer:
        with tempfile.TemporaryDirectory() as work:
            app = Path(work) / "app"
            for name, content in {"app.exe": b"MZ packed", "docs/readme.txt": b"read me\n" * 8,
                                  "lib/x.dll": bytes(300), "empty": b""}.items():
                (app / name).parent.mkdir(parents=True, exist_ok=True)
                (app / name).write_bytes(content)
            block = Path(work) / "block.bin"
            # A small window: the decoder allocates the frame's whole window
            # for every input, 128 MiB at the packer's default.
            subprocess.run([packer, "pack", str(app), "--main", "app.exe", "--window-log", "17", "-o", str(block)],
                           check=True, capture_output=True)
            seeds["packer-block"] = bytes([0x00, 0xFF]) + block.read_bytes()
            seeds["packer-block-twice"] = bytes([0x08, 0xFF]) + block.read_bytes()
    return seeds


# ---- indexed read path -----------------------------------------------------

def indexed_read_seeds(streams):
    seeds = {}
    for name in ("one", "tree", "long-name", "big", "stored-zero", "odd-names"):
        stream = streams[name]
        seeds[f"stream-{name}"] = bytes([0x01, 0xFF, 1, 0]) + stream
        entries = parse_stream(stream)[0]
        seeds[f"block-{name}"] = bytes([0x00, 0xFF]) + build_indexed_block(entries, frame_groups(entries, 64), FAST)
    tree = streams["tree"]
    indexed_tree = build_indexed_block(parse_stream(tree)[0], frame_groups(parse_stream(tree)[0], 64), FAST)
    # Cut right after the index's magic: nothing of the index itself.
    seeds["block-cut-after-index-magic"] = bytes([0x00, 0xFF]) + indexed_tree[:len(MAGIC) + INDEX_FRAME_HEADER_BYTES
                                                                              + len(INDEX_MAGIC)]
    seeds["stream-tree-two-per-frame"] = bytes([0x01, 0xFF, 1, 0]) + tree
    seeds["stream-tree-twice-four-threads"] = bytes([0x19, 0xFF, 2, 0]) + tree
    seeds["stream-tree-no-threads"] = bytes([0x39, 0xFF, 0, 0]) + tree
    seeds["stream-tree-no-lock"] = bytes([0x05, 0xFF, 0, 0]) + tree
    seeds["stream-tree-write-fails"] = bytes([0x01, 0x01, 0, 0]) + tree
    seeds["stream-tree-edited"] = bytes([0x03, 0xFF, 0, 2, 20, 0, 1, 40, 0, 0x80]) + tree
    seeds["stream-tree-edited-unsealed"] = bytes([0x01, 0xFF, 0, 1, 20, 0, 1]) + tree
    return seeds


# ---- expand_spec -----------------------------------------------------------

def spec_input(template, capacity=PATH_CAPACITY, flags=0, env=("", "", "", ""), module="", temp="", profile="",
               local=""):
    fields = [template, *env, module, temp, profile, local]
    body = b"\xff\xff".join(units(f) for f in fields)
    return struct.pack("<HB", (capacity - 1) % PATH_CAPACITY, flags) + body


def expand_spec_seeds():
    cases = {
        "unpack-spec": spec_input(DEFAULT_UNPACK_SPEC),
        "home": spec_input("{HOME}"),
        "temp": spec_input("{TEMP}\\x", temp="C:\\Temp\\\\"),
        "program": spec_input("{PROGRAM_BASE}.d\\{PROGRAM_DIR}\\{PROGRAM}", module="C:\\Apps\\Tool.EXE"),
        "restart": spec_input("{AB{TEMP}\\abc{TEM"),
        "unknown": spec_input("pre{TEMPX}post"),
        "held-fresh": spec_input("{RANDOM}-{TIME}-{TIME_US}-{PID}"),
        "held-set": spec_input("{random}{time}{time_us}{pid}", flags=0xF0, env=("1", "000001", "r", "123")),
        "pid-not-digits": spec_input("{PID}", flags=0x80, env=("", "", "", "12a")),
        "capacity-4": spec_input("abcd", capacity=4),
        "capacity-4-value": spec_input("{VERSION}", capacity=4),
        "capacity-1": spec_input("{TEMP}", capacity=1),
        "folders-missing": spec_input("{HOME}{CACHE_DIR}{TEMP}{PROGRAM}", flags=0x0F),
        "fixed": spec_input("{COMPANY}\\{PRODUCT}\\{FILE_VERSION}\\{PRODUCT_VERSION}"),
        "braces": spec_input("}{}{{}}"),
    }
    return cases


# ---- command line ----------------------------------------------------------

def command_line_input(args, module="C:\\Tools\\app.exe", flags=0, pad=0, pad_unit="p"):
    body = b"\xff\xff".join(units(f) for f in [module, "launcher", *args])
    if pad > 255:
        flags |= 4   # a long pad
    return struct.pack("<BHH", flags, pad, ord(pad_unit)) + body


def command_line_seeds():
    return {
        "plain": command_line_input(["--mode", "fast"]),
        "none": command_line_input([]),
        "quotes": command_line_input(['say "hi"', "C:\\dir with space\\", 'a\\\\"b', "a\\\\b c", "sp end\\\\", '"']),
        "empty-and-controls": command_line_input(["x", "", "y", "one\rtwo", "tab\there", "v\vt\nl"]),
        "module-with-space": command_line_input(["x"], module="C:\\Program Files\\Demo\\app.exe"),
        "longest": command_line_input(["a"], pad=32766 - len("C:\\Tools\\app.exe a ")),
        "one-over": command_line_input(["a"], pad=32767 - len("C:\\Tools\\app.exe a ")),
        "quoted-pad": command_line_input([], pad=16000, pad_unit='"'),
        "no-module": command_line_input(["x"], flags=1),
        "no-split": command_line_input(["x"], flags=2),
    }


# ---- icon input -------------------------------------------------------------

def png(width, height, colour_type=6, depth=8, palette=None):
    channels = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}[colour_type]
    row = bytes((x * 37 + y) % 256 for x in range(width * channels * depth // 8) for y in [0])
    raw = b"".join(b"\0" + row for _ in range(height))

    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))

    out = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, depth, colour_type, 0, 0, 0))
    if palette is not None:
        out += chunk(b"PLTE", palette)
    return out + chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b"")


def ico(images, count=None, shift=0):
    """images: (width, height, data) each."""
    count = len(images) if count is None else count
    head = struct.pack("<HHH", 0, 1, count)
    offset = 6 + 16 * len(images)
    entries, body = b"", b""
    for width, height, data in images:
        entries += struct.pack("<BBBBHHII", width % 256, height % 256, 0, 0, 1, 32, len(data), offset + shift)
        offset += len(data)
        body += data
    return head + entries + body


def icon_seeds():
    dib = struct.pack("<IiiHHIIiiII", 40, 16, 32, 1, 32, 0, 0, 0, 0, 0, 0) + bytes(16 * 16 * 4 + 16 * 4)
    rgba16, rgb48, grey300 = png(16, 16), png(48, 48, colour_type=2), png(300, 300, colour_type=0)
    return {
        "png-rgba-16": b"\x00" + rgba16,
        "png-rgb-48": b"\x00" + rgb48,
        "png-grey-300": b"\x00" + grey300,
        "png-palette": b"\x00" + png(32, 32, colour_type=3, palette=bytes(range(12))),
        "png-not-square": b"\x00" + png(16, 8),
        "png-cut": b"\x00" + rgba16[:40],
        "png-named-ico": b"\x01" + rgba16,
        "ico-png-and-dib": b"\x01" + ico([(16, 16, rgba16), (16, 16, dib)]),
        "ico-256": b"\x01" + ico([(256, 256, png(8, 8))]),
        "ico-unnamed": b"\x00" + ico([(16, 16, rgba16)]),
        "ico-cut-directory": b"\x01" + ico([(16, 16, rgba16)], count=3)[:40],
        "ico-outside": b"\x01" + ico([(16, 16, rgba16)], shift=1),
        "ico-empty": b"\x01" + struct.pack("<HHH", 0, 1, 0),
        "ico-not-an-image": b"\x01" + ico([(16, 16, b"plain text, no image")]),
        "nothing": b"\x00",
    }


# ---- project file --------------------------------------------------------------

def project_file_seeds():
    every_key = "\n".join([
        'input = "app"', 'output = "out/App.exe"', 'main = "bin/app.exe"', 'exclude = ["*.pdb", "/logs/"]',
        'target = "windows"', 'company = "Quenlith Ltd"', 'product = "Demo"', 'version = "1.2.3"',
        'unpack-spec = "{CACHE_DIR}\\\\{PRODUCT}\\\\{VERSION}"', 'description = "A demo"',
        'original-filename = "Demo.exe"', 'internal-name = "demo"', 'icon = ["art/app.ico"]', 'level = 3',
        'window-log = 20', 'threads = 2', 'layout = "indexed"', 'frame-size = 16', ""])
    cases = {
        "every-key": every_key,
        "linux": 'target = "linux"\nmain = "app"\nunpack-spec = "{CACHE_DIR}/x"\n',
        "empty": "",
        "comments": "# nothing but a comment\n\n",
        "unknown-key": 'level = 3\ncolour = "blue"\n',
        "wrong-type": "product = 5\n",
        "list-wanted": 'exclude = "*.pdb"\n',
        "bad-list-item": 'icon = ["a.ico", 3]\n',
        "bad-version": 'version = "1.2"\n',
        "bad-spec": 'unpack-spec = "{NOPE}"\n',
        "level-range": "level = 99\n",
        "bad-layout": 'layout = "sideways"\n',
        "bad-target": 'target = "dos"\n',
        "empty-path": 'output = ""\n',
        "table": "[pack]\nlevel = 3\n",
        "syntax": 'level = \n',
        "dash-value": 'main = "-x.exe"\n',
    }
    return {name: text.encode() for name, text in cases.items()}


# ---- image writer -------------------------------------------------------------

def image_round_trip_seeds():
    # FuzzedDataProvider takes the strings from the front (a backslash and
    # another byte end one) and the choices from the back: here every text
    # given, two resources, and the rest of the bytes the block.
    texts = b"Quenlith Ltd\\ Demo \xe2\x98\x83\\ 1.2.3\\ {CACHE_DIR}\\\\{PRODUCT}\\ "
    resources = b"<assembly/>\\ icon bytes\\ "
    choices = bytes([1, 1, 1, 1, 2, 24, 1, 3, 1, 0])[::-1]
    return {
        "empty": b"",
        "block-only": bytes(5000) + bytes(8),
        "every-text": texts + resources + b"QVR block" * 100 + choices,
        "odd-block": b"\x01" * 4097 + bytes(8),
    }


# ---- image reader -------------------------------------------------------------

DESCRIPTOR_MAGIC = b"zembra launcher\x01"
EMPTY_DESCRIPTOR = DESCRIPTOR_MAGIC + bytes(80)


def put(image, at, value, width):
    image[at:at + width] = value.to_bytes(width, "little")


def linux_image_round_trip_seeds():
    # As image_round_trip_seeds, with the stub's shape (0 to 15) taken first
    # from the back.
    texts = b"Quenlith Ltd\\ Demo \xe2\x98\x83\\ 1.2.3\\ {CACHE_DIR}/{PRODUCT}\\ "
    seeds = {"empty": b""}
    for shape in range(16):
        seeds[f"shape-{shape}"] = texts + b"QVR block" * 50 + bytes([shape, 1, 1, 1, 1])[::-1]
    seeds["odd-block"] = b"\x01" * 4097 + bytes([9, 0, 0, 0, 0])[::-1]
    return seeds


def windows_stub():
    """Headers, .text holding a debug directory, and .zembra with the empty
    descriptor: what the packer needs of a stub (fuzz_image_round_trip lays
    out the same)."""
    s = bytearray(0x3000)
    coff, optional = 0x44, 0x58
    table = optional + 240
    s[0:2] = b"MZ"
    put(s, 0x3C, 0x40, 4)
    s[0x40:0x44] = b"PE\0\0"
    put(s, coff, 0x8664, 2)
    put(s, coff + 2, 2, 2)
    put(s, coff + 16, 240, 2)
    for at, value, width in [(0, 0x20B, 2), (8, 0x1000, 4), (32, 0x1000, 4), (36, 0x1000, 4), (56, 0x3000, 4),
                             (60, 0x1000, 4), (108, 16, 4), (112 + 48, 0x1100, 4), (112 + 52, 28, 4)]:
        put(s, optional + at, value, width)
    for i, (name, rva) in enumerate([(b".text", 0x1000), (b".zembra", 0x2000)]):
        h = table + 40 * i
        s[h:h + len(name)] = name
        for at, value in [(8, 0x200), (12, rva), (16, 0x1000), (20, rva)]:
            put(s, h + at, value, 4)
    s[0x2000:0x2000 + len(EMPTY_DESCRIPTOR)] = EMPTY_DESCRIPTOR
    return bytes(s)


def linux_stub():
    """An ELF header, a load segment mapping the whole file, a note segment
    for the packer to turn into the attached data's, and the sections
    .zembra (the empty descriptor) and .shstrtab: what the packer needs of a
    stub (fuzz_linux_image_round_trip lays out stubs of this kind)."""
    s = bytearray(0x1000)
    s[0:8] = b"\x7fELF\x02\x01\x01\x00"
    for at, value, width in [(0x10, 2, 2), (0x12, 62, 2), (0x14, 1, 4), (0x18, 0x401000, 8), (0x20, 64, 8),
                             (0x28, 0x400, 8), (0x34, 64, 2), (0x36, 56, 2), (0x38, 2, 2), (0x3A, 64, 2),
                             (0x3C, 3, 2), (0x3E, 2, 2)]:
        put(s, at, value, width)
    # PT_LOAD r-x over the whole file; PT_NOTE
    for at, value, width in [(0, 1, 4), (4, 5, 4), (8, 0, 8), (16, 0x400000, 8), (24, 0x400000, 8),
                             (32, 0x1000, 8), (40, 0x1000, 8), (48, 0x1000, 8)]:
        put(s, 64 + at, value, width)
    for at, value, width in [(0, 4, 4), (4, 4, 4), (8, 0x100, 8), (16, 0x400100, 8), (24, 0x400100, 8),
                             (32, 16, 8), (40, 16, 8), (48, 4, 8)]:
        put(s, 64 + 56 + at, value, width)
    s[0x200:0x200 + len(EMPTY_DESCRIPTOR)] = EMPTY_DESCRIPTOR
    names = b"\0.zembra\0.shstrtab\0"
    s[0x300:0x300 + len(names)] = names
    for i, (name, kind, addr, offset, size) in enumerate([(1, 1, 0x400200, 0x200, len(EMPTY_DESCRIPTOR)),
                                                          (9, 3, 0, 0x300, len(names))]):
        h = 0x400 + 64 * (i + 1)
        for at, value, width in [(0, name, 4), (4, kind, 4), (16, addr, 8), (24, offset, 8), (32, size, 8)]:
            put(s, h + at, value, width)
    return bytes(s)


def image_reader_seeds(packer):
    seeds = {"empty": b"", "not-ours": b"PK\3\4 not a launcher", "windows-stub": windows_stub(),
             "linux-stub": linux_stub(), "bare-block": block_of(STREAMS["tree"]),
             "indexed-block": build_indexed_block(parse_stream(STREAMS["tree"])[0],
                                                  frame_groups(parse_stream(STREAMS["tree"])[0], 64), FAST),
             "odd-names-block": block_of(STREAMS["odd-names"])}
    if not packer:
        return seeds
    with tempfile.TemporaryDirectory() as work:
        # The packer over small stubs: a packer finds its stubs and data
        # files below the directory above its own.
        root = Path(work) / "root"
        (root / "bin").mkdir(parents=True)
        (root / "lib/zembra/stubs").mkdir(parents=True)
        (root / "share/zembra").mkdir(parents=True)
        tool = root / "bin/zembra"
        tool.write_bytes(Path(packer).read_bytes())
        tool.chmod(0o755)
        (root / "lib/zembra/stubs/windows-x64.exe").write_bytes(windows_stub())
        (root / "lib/zembra/stubs/linux-x64").write_bytes(linux_stub())
        (root / "share/zembra/res").symlink_to(Path(packer).resolve().parents[1] / "share/zembra/res")
        app = Path(work) / "app"
        for name, content in {"app.exe": b"MZ packed", "docs/readme.txt": b"read me\n" * 8, "lib/x.dll": bytes(300),
                              "empty": b""}.items():
            (app / name).parent.mkdir(parents=True, exist_ok=True)
            (app / name).write_bytes(content)
        for target in ("windows", "linux"):
            for layout in ("indexed", "single-frame"):
                out = Path(work) / f"{target}-{layout}"
                subprocess.run([str(tool), "build", str(app), "--main", "app.exe", "--target", target, "--layout",
                                layout, "--window-log", "17", "--level", "1", "-o", str(out)],
                               check=True, capture_output=True)
                image = out.read_bytes()
                seeds[f"{target}-{layout}"] = image
                # Cut inside the block, inside the built-in texts (or the
                # padding after them), by its last byte, and inside the
                # headers.
                seeds[f"{target}-{layout}-cut-block"] = image[:len(image) - 200]
                seeds[f"{target}-{layout}-cut-texts"] = image[:len(image) - 3]
                seeds[f"{target}-{layout}-cut-one"] = image[:len(image) - 1]
                seeds[f"{target}-{layout}-cut-headers"] = image[:0x180]
        subprocess.run([str(tool), "pack", str(app), "--main", "app.exe", "--window-log", "17", "--level", "1",
                        "-o", str(Path(work) / "block")], check=True, capture_output=True)
        block = (Path(work) / "block").read_bytes()
        seeds["packer-block"] = block
        seeds["packer-block-cut"] = block[:len(block) // 2]
    return seeds


def main():
    out = Path(sys.argv[1])
    packer = sys.argv[2] if len(sys.argv) > 2 and os.access(sys.argv[2], os.X_OK) else None
    for target, seeds in [("fuzz_read_path", read_path_seeds(packer)), ("fuzz_indexed_read", indexed_read_seeds(STREAMS)),
                          ("fuzz_expand_spec", expand_spec_seeds()),
                          ("fuzz_command_line", command_line_seeds()), ("fuzz_icons", icon_seeds()),
                          ("fuzz_project_file", project_file_seeds()),
                          ("fuzz_image_round_trip", image_round_trip_seeds()),
                          ("fuzz_image_reader", image_reader_seeds(packer)),
                          ("fuzz_linux_image_round_trip", linux_image_round_trip_seeds())]:
        folder = out / target
        folder.mkdir(parents=True, exist_ok=True)
        for name, data in seeds.items():
            (folder / name).write_bytes(data)


if __name__ == "__main__":
    main()
