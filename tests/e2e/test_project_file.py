"""The project file from the outside: a build driven by zembra.toml writes
the same launcher as the same options on the command line, for both
targets, leaving out what its patterns match and the file itself."""

import shutil
import unittest

from harness import REPO, WineTestCase, packer, write_tree
from zembra_block import parse_block

FILES = {
    "bin/app.exe": b"MZ" + bytes(range(256)) * 64,
    "bin/app.pdb": "symbols",
    "lib/x.dll": "x",
    "lib/deep/x.pdb": "symbols",
    "docs/readme.txt": "not shipped",
    "data/docs/kept.txt": "shipped: only the top docs/ is left out",
}
PROJECT = """\
main = "bin/app.exe"
exclude = ["*.pdb", "/docs/"]
company = "Acme"
product = "Rocket"
version = "2.3.4"
description = "Rocket launcher"
internal-name = "rocket"
icon = ["../art/icon.png"]
level = 5
window-log = 20
layout = "indexed"
frame-size = 1
"""
PACK_OPTIONS = ["--main", "bin/app.exe", "--exclude", "*.pdb", "--exclude", "/docs/", "--level", "5",
                "--window-log", "20", "--layout", "indexed", "--frame-size", "1"]
OPTIONS = PACK_OPTIONS + ["--company", "Acme", "--product", "Rocket", "--version", "2.3.4",
                          "--description", "Rocket launcher", "--internal-name", "rocket"]
SHIPPED = ["bin\\app.exe", "data\\docs\\kept.txt", "lib\\x.dll"]


class ProjectFileTest(WineTestCase):
    def arrange(self):
        """The application twice: with its project file and without."""
        with_file = write_tree(self.tmp / "app", dict(FILES, **{"zembra.toml": PROJECT}))
        plain = write_tree(self.tmp / "plain", FILES)
        (self.tmp / "art").mkdir()
        shutil.copy(REPO / "res" / "icons" / "icon-32.png", self.tmp / "art" / "icon.png")
        return with_file, plain

    def test_the_block_leaves_out_the_patterns_and_the_file(self):
        with_file, plain = self.arrange()
        packer("pack", with_file, "-o", self.tmp / "from-file.bin")
        packer("pack", plain, "-o", self.tmp / "from-options.bin", *PACK_OPTIONS)
        block = (self.tmp / "from-file.bin").read_bytes()
        self.assertEqual(block, (self.tmp / "from-options.bin").read_bytes())
        self.assertEqual([e.name for e in parse_block(block).entries], SHIPPED)

    def test_the_same_launcher_as_the_same_options(self):
        with_file, plain = self.arrange()
        icon = self.tmp / "art" / "icon.png"
        for target in ("windows", "linux"):
            with self.subTest(target):
                # The original file name follows the output's, so every
                # launcher gets the same one.
                outputs = [self.tmp / target / kind / "Rocket.exe" for kind in ("file", "options", "again")]
                for output in outputs:
                    output.parent.mkdir(parents=True)
                packer("build", with_file, "-o", outputs[0], "--target", target)
                for output in outputs[1:]:
                    packer("build", plain, "-o", output, "--target", target, "--icon", icon, *OPTIONS)
                from_file, from_options, again = (output.read_bytes() for output in outputs)
                self.assertEqual(from_options, again, "two builds from the same options")
                self.assertEqual(from_file, from_options)


if __name__ == "__main__":
    unittest.main()
