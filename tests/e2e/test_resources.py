"""The resources and header settings of built launchers, read back from the
image with pefile: manifest, version block, icons, language and code page,
header fields and imports; the identity and icon options; bad icon input;
and a launcher with all of them still running its child under Wine."""

import io
import shutil
import struct
import tempfile
import unittest
import xml.etree.ElementTree as ET
import zlib
from pathlib import Path

import pefile

from harness import (EXAMPLES, REPO, STAGE, WineTestCase, build_launcher, local_app_data, packer, run_wine,
                     windows_path, write_tree)
from zembra_block import (DEFAULT_COMPANY, DEFAULT_DESCRIPTION, DEFAULT_INTERNAL_NAME, DEFAULT_ORIGINAL_FILENAME,
                          DEFAULT_PRODUCT, DEFAULT_VERSION)

RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 14, 16, 24
SIZES = [16, 32, 48, 64, 128, 256]
DEFAULT_ART = REPO / "res" / "icons"

ASM_V1 = "urn:schemas-microsoft-com:asm.v1"
ASM_V3 = "urn:schemas-microsoft-com:asm.v3"
COMPAT = "urn:schemas-microsoft-com:compatibility.v1"
WS2016 = "http://schemas.microsoft.com/SMI/2016/WindowsSettings"
SUPPORTED_OS = [
    "{e2011457-1546-43c5-a5fe-008deee3d3f0}",   # Vista
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",   # 7
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",   # 8
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",   # 8.1
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",   # 10 and later
]


# --- small PNG and ICO writers and readers -------------------------------

def _chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


def make_png(width, height, pixel, colour_type=6, extra=b""):
    """A PNG whose rows all repeat `pixel` (bytes matching the colour type),
    or are `pixel` when it holds a whole row."""
    row = pixel if len(pixel) > 4 else pixel * width
    raw = b"".join(b"\0" + row for _ in range(height))
    header = struct.pack(">IIBBBBB", width, height, 8, colour_type, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + _chunk(b"IHDR", header) + extra + _chunk(b"IDAT", zlib.compress(raw))
            + _chunk(b"IEND", b""))


def make_ico(images):
    """images: [(directory entry fields without size and offset, data)]."""
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for fields, data in images:
        out += struct.pack("<BBBBHHII", *fields, len(data), offset)
        offset += len(data)
    return out + b"".join(data for _, data in images)


def png_header(data):
    """(width, height, bit depth, colour type) of a PNG."""
    assert data[:8] == b"\x89PNG\r\n\x1a\n" and data[12:16] == b"IHDR", "not a PNG"
    return struct.unpack(">IIBB", data[16:26])


def png_rgba(data):
    """The pixels of an 8-bit RGBA non-interlaced PNG, as rows of (r, g, b, a)."""
    width, height, depth, colour = png_header(data)
    assert (depth, colour, data[28]) == (8, 6, 0)
    idat, at = b"", 8
    while at < len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        if kind == b"IDAT":
            idat += data[at + 8:at + 8 + length]
        at += 12 + length
    raw, stride, rows, previous = zlib.decompress(idat), width * 4, [], bytearray(width * 4)
    for y in range(height):
        kind, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            left = line[i - 4] if i >= 4 else 0
            up, corner = previous[i], previous[i - 4] if i >= 4 else 0
            if kind == 1:
                line[i] = (line[i] + left) & 0xFF
            elif kind == 2:
                line[i] = (line[i] + up) & 0xFF
            elif kind == 3:
                line[i] = (line[i] + (left + up) // 2) & 0xFF
            elif kind == 4:
                p = left + up - corner
                pa, pb, pc = abs(p - left), abs(p - up), abs(p - corner)
                line[i] = (line[i] + (left if pa <= pb and pa <= pc else up if pb <= pc else corner)) & 0xFF
        rows.append([tuple(line[x:x + 4]) for x in range(0, stride, 4)])
        previous = line
    return rows


# --- reading an image back ---------------------------------------------------

class Image:
    def __init__(self, path):
        self.pe = pefile.PE(str(path))
        self.resources = {}   # (type, id) -> (language, code page, bytes)
        for kind in self.pe.DIRECTORY_ENTRY_RESOURCE.entries:
            for name in kind.directory.entries:
                for language in name.directory.entries:
                    entry = language.data.struct
                    self.resources.setdefault((kind.id, name.id), []).append(
                        (language.id, entry.CodePage, self.pe.get_data(entry.OffsetToData, entry.Size)))

    def resource(self, kind, ident):
        (found,) = self.resources[(kind, ident)]
        return found[2]

    def icon_group(self):
        data = self.resource(RT_GROUP_ICON, 1)
        reserved, kind, count = struct.unpack_from("<HHH", data)
        self_check = (reserved, kind, len(data))
        assert self_check == (0, 1, 6 + 14 * count), self_check
        return [struct.unpack_from("<BBBBHHIH", data, 6 + 14 * i) for i in range(count)]

    def version_strings(self):
        (info,) = [i for i in self.pe.FileInfo[0] if i.Key == b"StringFileInfo"]
        (table,) = info.StringTable
        return table.LangID, {k.decode(): v.decode() for k, v in table.entries.items()}


def packed_hello(tmp):
    """The example application, which a launcher can run under Wine."""
    app = Path(tmp) / "app"
    shutil.copytree(EXAMPLES / "hello", app)
    return app


class DefaultLauncher(WineTestCase):
    """A launcher built with no identity option."""

    @classmethod
    def setUpClass(cls):
        cls.dir = Path(tempfile.mkdtemp(prefix="zembra-res."))
        cls.exe = build_launcher(packed_hello(cls.dir), cls.dir / "default.exe", "--unpack-spec",
                                 windows_path(cls.dir) + "\\cache")
        cls.image = Image(cls.exe)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.dir, ignore_errors=True)

    def test_manifest(self):
        data = self.image.resource(RT_MANIFEST, 1)
        declared = {uri for _, (_, uri) in ET.iterparse(io.BytesIO(data), events=("start-ns",))}
        self.assertEqual(declared, {ASM_V1, ASM_V3, COMPAT, WS2016})
        root = ET.fromstring(data)
        self.assertEqual((root.tag, root.attrib), (f"{{{ASM_V1}}}assembly", {"manifestVersion": "1.0"}))
        self.assertEqual([child.tag for child in root], [
            f"{{{ASM_V1}}}assemblyIdentity", f"{{{COMPAT}}}compatibility", f"{{{ASM_V3}}}application",
            f"{{{ASM_V1}}}dependency", f"{{{ASM_V3}}}trustInfo"])
        identity, compatibility, application, dependency, trust = root
        self.assertEqual(identity.attrib, {"type": "win32", "name": "Zadi", "version": "1.0.0.0"})
        (compat_app,) = compatibility
        self.assertEqual(compat_app.tag, f"{{{COMPAT}}}application")
        self.assertEqual([(os.tag, os.get("Id")) for os in compat_app],
                         [(f"{{{COMPAT}}}supportedOS", guid) for guid in SUPPORTED_OS])
        (settings,) = application
        self.assertEqual(settings.tag, f"{{{ASM_V3}}}windowsSettings")
        self.assertEqual([(s.tag, s.text) for s in settings], [(f"{{{WS2016}}}longPathAware", "true")])
        dependent = dependency.find(f"{{{ASM_V1}}}dependentAssembly/{{{ASM_V1}}}assemblyIdentity")
        self.assertEqual(dependent.attrib, {
            "type": "win32", "name": "Microsoft.Windows.Common-Controls", "version": "6.0.0.0",
            "processorArchitecture": "*", "publicKeyToken": "6595b64144ccf1df", "language": "*"})
        level = trust.find(f"{{{ASM_V3}}}security/{{{ASM_V3}}}requestedPrivileges/"
                           f"{{{ASM_V3}}}requestedExecutionLevel")
        self.assertEqual(level.attrib, {"level": "asInvoker", "uiAccess": "false"})

    def test_version_block(self):
        fixed = self.image.pe.VS_FIXEDFILEINFO[0]
        self.assertEqual(
            (fixed.FileVersionMS, fixed.FileVersionLS, fixed.ProductVersionMS, fixed.ProductVersionLS),
            (0x00010000, 0x00140000, 0x00010000, 0x00140000))
        self.assertEqual((fixed.FileFlagsMask, fixed.FileFlags, fixed.FileOS, fixed.FileType, fixed.FileSubtype,
                          fixed.FileDateMS, fixed.FileDateLS), (0x3F, 0, 0x4, 0x1, 0, 0, 0))
        self.assertEqual(self.image.version_strings(), (b"000004b0", {
            "CompanyName": DEFAULT_COMPANY, "ProductName": DEFAULT_PRODUCT, "FileDescription": DEFAULT_DESCRIPTION,
            "ProductVersion": DEFAULT_VERSION + ".0", "FileVersion": DEFAULT_VERSION + ".0",
            "OriginalFilename": DEFAULT_ORIGINAL_FILENAME, "InternalName": DEFAULT_INTERNAL_NAME}))
        (var,) = [i for i in self.image.pe.FileInfo[0] if i.Key == b"VarFileInfo"]
        self.assertEqual([v.entry for v in var.Var], [{b"Translation": "0x0000 0x04b0"}])

    def test_icons_are_the_default_art(self):
        group = self.image.icon_group()
        for size, entry, ident in zip(SIZES, group, range(1, 7)):
            art = (DEFAULT_ART / f"icon-{size}.png").read_bytes()
            self.assertEqual(entry, (size % 256, size % 256, 0, 0, 0, 32, len(art), ident))
            self.assertEqual(self.image.resource(RT_ICON, ident), art)
            self.assertEqual(png_header(art), (size, size, 8, 6))
        self.assertEqual(len(group), 6)

    def test_every_resource_is_neutral_with_code_page_1252(self):
        self.assertEqual(sorted(self.image.resources), [(RT_ICON, i) for i in range(1, 7)] + [
            (RT_GROUP_ICON, 1), (RT_VERSION, 1), (RT_MANIFEST, 1)])
        for key, entries in self.image.resources.items():
            self.assertEqual([(language, page) for language, page, _ in entries], [(0, 1252)], key)

    def test_header_settings(self):
        pe = self.image.pe
        opt = pe.OPTIONAL_HEADER
        self.assertEqual((pe.FILE_HEADER.Machine, opt.Magic), (0x8664, 0x20B))   # x86-64, PE32+
        self.assertEqual(opt.Subsystem, 2)   # Windows GUI
        self.assertEqual((opt.MajorSubsystemVersion, opt.MinorSubsystemVersion), (6, 0))
        self.assertEqual((opt.MajorOperatingSystemVersion, opt.MinorOperatingSystemVersion), (6, 0))
        self.assertEqual((opt.SizeOfStackReserve, opt.SizeOfStackCommit), (16 * 1024 * 1024, 4096))
        self.assertEqual(opt.SizeOfHeapReserve, 1024 * 1024)
        flags = {"high-entropy VA": 0x20, "dynamic base": 0x40, "NX compatible": 0x100,
                 "terminal-server aware": 0x8000}
        for name, bit in flags.items():
            self.assertTrue(opt.DllCharacteristics & bit, name)
        # page-aligned in the file, so the block can be mapped rather than copied
        self.assertEqual(opt.FileAlignment, 4096)
        self.assertEqual([s.PointerToRawData % 4096 for s in pe.sections], [0] * len(pe.sections))
        # what the packer wrote into the headers agrees with the image
        self.assertEqual(opt.CheckSum, pe.generate_checksum())
        self.assertEqual(pe.FILE_HEADER.TimeDateStamp, 0)
        self.assertEqual(pe.DIRECTORY_ENTRY_RESOURCE.struct.TimeDateStamp, 0)
        ends = [s.VirtualAddress + s.Misc_VirtualSize for s in pe.sections]
        self.assertEqual(opt.SizeOfImage, -(-ends[-1] // opt.SectionAlignment) * opt.SectionAlignment)
        for after, end in zip(pe.sections[1:], ends):
            self.assertEqual(after.VirtualAddress, -(-end // opt.SectionAlignment) * opt.SectionAlignment,
                             after.Name)
        self.assertEqual(pe.sections[-1].PointerToRawData + pe.sections[-1].SizeOfRawData,
                         self.exe.stat().st_size)

    def test_imports_only_system_libraries_and_the_universal_c_runtime(self):
        pe = self.image.pe
        names = {entry.dll.decode().lower() for entry in pe.DIRECTORY_ENTRY_IMPORT}
        runtime = {name for name in names if name.startswith("api-ms-win-crt-")}
        self.assertIn("api-ms-win-crt-runtime-l1-1-0.dll", runtime)
        self.assertEqual(names - runtime, {"kernel32.dll", "shell32.dll"})
        self.assertFalse(hasattr(pe, "DIRECTORY_ENTRY_DELAY_IMPORT"))
        self.assertFalse(hasattr(pe, "DIRECTORY_ENTRY_EXPORT"))

    def test_runs_its_child_under_wine(self):
        run = run_wine(self.exe, "--exit", "5")
        self.assertEqual(run.returncode, 5, run.out + run.err)
        self.assertIn("Hello from the packed application.", run.out)
        self.assertTrue((self.dir / "cache" / "data" / "greeting.txt").is_file())


class IdentityOptions(WineTestCase):
    def build(self, *options):
        app = write_tree(self.tmp / "app", {"main.exe": b"MZ not run here"})
        return Image(build_launcher(app, self.tmp / "out.exe", *options))

    def test_identity_values_reach_the_version_block(self):
        company = 'Zürich & "Söhne" \\ 株式会社'
        image = self.build("--company", company, "--product", "Widget 😀", "--version", "2.65535.0",
                           "--description", "Makes widgets", "--original-filename", "widget.exe",
                           "--internal-name", "widget")
        fixed = image.pe.VS_FIXEDFILEINFO[0]
        self.assertEqual((fixed.FileVersionMS, fixed.FileVersionLS, fixed.ProductVersionMS,
                          fixed.ProductVersionLS), (0x0002FFFF, 0, 0x0002FFFF, 0))
        _, strings = image.version_strings()
        # pefile shows a surrogate pair as escapes: look for the UTF-16 text itself.
        self.assertIn("Widget 😀\0".encode("utf-16-le"), image.resource(RT_VERSION, 1))
        self.assertEqual({k: v for k, v in strings.items() if k != "ProductName"}, {
            "CompanyName": company, "FileDescription": "Makes widgets", "ProductVersion": "2.65535.0.0",
            "FileVersion": "2.65535.0.0", "OriginalFilename": "widget.exe", "InternalName": "widget"})
        for key, entries in image.resources.items():
            self.assertEqual([(language, page) for language, page, _ in entries], [(0, 1252)], key)

    def test_product_alone_names_the_version_block_and_the_unpack_folder(self):
        product = "Rocket \u2604 launcher"
        exe = build_launcher(packed_hello(self.tmp), self.tmp / "Rocket.exe", "--product", product, "--level", "3")
        _, strings = Image(exe).version_strings()
        self.assertEqual(strings, {
            "CompanyName": DEFAULT_COMPANY, "ProductName": product, "FileDescription": product,
            "ProductVersion": DEFAULT_VERSION + ".0", "FileVersion": DEFAULT_VERSION + ".0",
            "OriginalFilename": "Rocket.exe", "InternalName": product})

        target = local_app_data() / product
        self.addCleanup(shutil.rmtree, target, ignore_errors=True)
        run = run_wine(exe, "--exit", "5")
        self.assertEqual(run.returncode, 5, run.out + run.err)
        self.assertEqual((target / DEFAULT_VERSION / "hello.exe").read_bytes(),
                         (EXAMPLES / "hello" / "hello.exe").read_bytes())
        self.assertTrue((target / DEFAULT_VERSION / "data" / "greeting.txt").is_file())

    def test_value_too_long_for_the_version_block_is_refused(self):
        # The block's lengths are 16-bit: a longer value would wrap them.
        image = self.build("--description", "d" * 4096)
        self.assertEqual(image.version_strings()[1]["FileDescription"], "d" * 4096)
        out = self.tmp / "long.exe"
        result = packer("build", self.tmp / "app", "-o", out, "--description", "d" * 4097, check=False)
        self.assertNotEqual(result.returncode, 0)
        self.assertEqual(len(result.stderr.strip().splitlines()), 1, result.stderr)
        self.assertIn("--description", result.stderr)
        self.assertFalse(out.exists())

    def test_png_pictures_are_fitted_to_the_six_sizes(self):
        exact = make_png(32, 32, bytes([1, 2, 3, 200]))
        write_tree(self.tmp / "art", {
            "b-exact-32.png": exact,
            "a-green-300.png": make_png(300, 300, bytes([10, 200, 30]), colour_type=2),   # RGB, no alpha
            "c-red-20.png": make_png(20, 20, b"\0", colour_type=3,                    # palette, half opaque
                                     extra=_chunk(b"PLTE", bytes([255, 0, 0])) + _chunk(b"tRNS", b"\x80")),
            "notes.txt": "not a picture, not looked at",
        })
        image = self.build("--icon", self.tmp / "art")
        group = image.icon_group()
        self.assertEqual([entry[:6] for entry in group], [(s % 256, s % 256, 0, 0, 0, 32) for s in SIZES])
        expected_colour = {16: (255, 0, 0, 128), 32: None, 48: (10, 200, 30, 255), 64: (10, 200, 30, 255),
                           128: (10, 200, 30, 255), 256: (10, 200, 30, 255)}
        for size, entry in zip(SIZES, group):
            data = image.resource(RT_ICON, entry[7])
            self.assertEqual(entry[6], len(data))
            if size == 32:
                self.assertEqual(data, exact)   # an 8-bit RGBA picture of the right size is kept as it is
                continue
            rows = png_rgba(data)
            self.assertEqual((len(rows), len(rows[0])), (size, size))
            self.assertEqual({pixel for row in rows for pixel in row}, {expected_colour[size]}, size)

    def test_small_picture_is_scaled_up(self):
        write_tree(self.tmp, {"blue.png": make_png(20, 20, bytes([0, 0, 255, 255]))})
        image = self.build("--icon", self.tmp / "blue.png")
        for size, entry in zip(SIZES, image.icon_group()):
            rows = png_rgba(image.resource(RT_ICON, entry[7]))
            self.assertEqual({pixel for row in rows for pixel in row}, {(0, 0, 255, 255)})
            self.assertEqual(len(rows), size)

    def test_transparent_pixels_do_not_darken_scaled_edges(self):
        # 251 transparent black columns, then opaque red: every scaled pixel
        # that shows at all must still be pure red, only less opaque.
        row = bytes(4) * 251 + bytes([255, 0, 0, 255]) * 261
        write_tree(self.tmp, {"half.png": make_png(512, 512, row)})
        image = self.build("--icon", self.tmp / "half.png")
        for size, entry in zip(SIZES, image.icon_group()):
            pixels = {pixel for row in png_rgba(image.resource(RT_ICON, entry[7])) for pixel in row}
            self.assertEqual({p[:3] for p in pixels if p[3]}, {(255, 0, 0)}, size)
            self.assertTrue(any(0 < p[3] < 255 for p in pixels), size)   # the edge is blended

    def test_ico_images_are_taken_as_they_are(self):
        png48 = make_png(48, 48, bytes([9, 9, 9, 255]))
        dib16 = struct.pack("<IiiHHIIiiII", 40, 16, 32, 1, 32, 0, 0, 0, 0, 0, 0) + b"\x11" * (16 * 16 * 4 + 64)
        ico = make_ico([((48, 48, 0, 0, 1, 32), png48), ((16, 16, 0, 0, 1, 32), dib16)])
        write_tree(self.tmp, {"app.ico": ico})
        image = self.build("--icon", self.tmp / "app.ico")
        self.assertEqual(image.icon_group(), [(48, 48, 0, 0, 1, 32, len(png48), 1),
                                              (16, 16, 0, 0, 1, 32, len(dib16), 2)])
        self.assertEqual((image.resource(RT_ICON, 1), image.resource(RT_ICON, 2)), (png48, dib16))
        self.assertNotIn((RT_ICON, 3), image.resources)


class BadIconInput(WineTestCase):
    def test_each_is_refused_in_one_line_without_output(self):
        square = make_png(32, 32, bytes([1, 2, 3, 4]))
        good_ico = make_ico([((32, 32, 0, 0, 1, 32), square)])
        write_tree(self.tmp, {
            "app/main.exe": b"MZ not run here",
            "notes.txt": "plain text",
            "cut.png": square[:60],
            "wide.png": make_png(40, 20, bytes([1, 2, 3, 4])),
            "good.ico": good_ico,
            "outside.ico": good_ico[:-10],
            "empty.ico": struct.pack("<HHH", 0, 1, 0),
            "dir/readme.txt": "no pictures here",
        })
        cases = {
            "not a picture": (["notes.txt"], "not a PNG or ICO"),
            "damaged PNG": (["cut.png"], "not a usable PNG"),
            "not square": (["wide.png"], "not square"),
            "no PNG in directory": (["dir"], "no PNG"),
            "ICO image beyond the file": (["outside.ico"], "outside"),
            "ICO without images": (["empty.ico"], "no image"),
            "ICO with other input": (["good.ico", "wide.png"], "only"),
            "missing file": (["absent.png"], "absent.png"),
        }
        for name, (inputs, words) in cases.items():
            with self.subTest(name):
                out = self.tmp / "out.exe"
                options = [arg for item in inputs for arg in ("--icon", self.tmp / item)]
                result = packer("build", self.tmp / "app", "-o", out, *options, check=False)
                self.assertNotEqual(result.returncode, 0)
                lines = result.stderr.strip().splitlines()
                self.assertEqual(len(lines), 1, result.stderr)
                self.assertIn(words, lines[0])
                self.assertFalse(out.exists())


if __name__ == "__main__":
    unittest.main()
