"""Unpack specs under Wine: where a real launcher puts the application, and
how it fails when its spec cannot be expanded."""

import re
import shutil
import unittest
import uuid

from harness import (EXAMPLES, PREFIX, WineTestCase, build_launcher, run_wine, windows_path)
from zembra_block import DEFAULT_COMPANY, DEFAULT_VERSION

HELLO = EXAMPLES / "hello"


def users_dir():
    return PREFIX / "drive_c" / "users"


class UnpackSpec(WineTestCase):
    def launcher(self, spec, name="App.exe"):
        return build_launcher(HELLO, self.tmp / name, "--main", "hello.exe", "--unpack-spec", spec, "--level", "1")

    def refused_spec_launcher(self, spec):
        """A launcher holding a spec the packer refuses: built with {HOME} in
        place of {NOPE} (the same length), then patched in the image."""
        exe = self.launcher(spec.replace("{NOPE}", "{HOME}"))
        image = exe.read_bytes()
        built = (spec.replace("{NOPE}", "{HOME}") + "\0").encode("utf-16-le")
        self.assertEqual(image.count(built), 1)
        exe.write_bytes(image.replace(built, (spec + "\0").encode("utf-16-le")))
        return exe

    def assert_expansion_failure(self, exe, spec):
        run = run_wine(exe)
        self.assertEqual(run.stderr_bytes, f"Error, couldn't runtime expand spec '{spec}'.\r\n".encode())
        self.assertEqual(run.out, "")
        self.assertEqual(run.returncode, 3)   # abort's status under Wine
        self.assertEqual([p.name for p in self.tmp.iterdir()], [exe.name], "nothing was unpacked")

    def test_failed_expansion_prints_the_template_and_aborts(self):
        with self.subTest("unknown placeholder"):
            spec = windows_path(self.tmp) + "\\out\\{NOPE}"
            self.assert_expansion_failure(self.refused_spec_launcher(spec), spec)
        with self.subTest("no room left for the text after a long value"):
            # Within the packer's limit as a template, too long once expanded.
            spec = "{PROGRAM_DIR}\\" + "y" * (4095 - len("{PROGRAM_DIR}\\"))
            self.assert_expansion_failure(self.launcher(spec), spec)

    # The expansion leaves nothing that can be made a full path: the failed
    # expansion is still what the user is told about.
    def test_failed_expansion_with_nothing_before_it_is_reported(self):
        self.assert_expansion_failure(self.refused_spec_launcher("{NOPE}\\x"), "{NOPE}\\x")

    def test_environment_held_values_are_fresh_and_repeat(self):
        spec = windows_path(self.tmp) + "\\{PID}-{TIME}-{TIME_US}-{RANDOM}-{pid}-{time}-{time_us}-{random}"
        exe = self.launcher(spec)
        inherited = {
            "ZEMBRA_ONEFILE_PARENT": "4000000000",
            "ZEMBRA_ONEFILE_START": "1",
            "ZEMBRA_ONEFILE_TIME_US": "xx",
            "ZEMBRA_ONEFILE_RANDOM": "inherited",
        }
        run = run_wine(exe, env=inherited)
        self.assertEqual(run.returncode, 0, run.out + run.err)

        made = [p.name for p in self.tmp.iterdir() if p.is_dir()]
        self.assertEqual(len(made), 1, made)
        match = re.fullmatch(r"(\d+)-(\d{18})-(\d{6})-([A-Za-z0-9_-]{11})-\1-\2-\3-\4", made[0])
        self.assertIsNotNone(match, made[0])
        self.assertNotEqual(match.group(1), "4000000000")
        self.assertTrue((self.tmp / made[0] / "hello.exe").is_file())
        # {PID} is the launcher's own process id, which the child also sees.
        self.assertRegex(run.out, rf"ZEMBRA_ONEFILE_PARENT\s+{match.group(1)}\n")

    def test_program_placeholders_follow_the_launcher(self):
        exe = self.launcher("{PROGRAM_BASE}.d\\{Company}\\{VERSION}", name="Tool.EXE")
        run = run_wine(exe)
        self.assertEqual(run.returncode, 0, run.out + run.err)
        self.assertTrue((self.tmp / "Tool.d" / DEFAULT_COMPANY / DEFAULT_VERSION / "hello.exe").is_file())

        exe = self.launcher("{PROGRAM_DIR}\\beside", name="Other.exe")
        run = run_wine(exe)
        self.assertEqual(run.returncode, 0, run.out + run.err)
        self.assertTrue((self.tmp / "beside" / "hello.exe").is_file())

    def test_user_folders_come_from_the_system(self):
        for placeholder, pattern in [("{TEMP}", "*/Temp/{}"), ("{HOME}", "*/{}")]:
            with self.subTest(placeholder=placeholder):
                unique = "zembra-paths-" + uuid.uuid4().hex
                run = run_wine(self.launcher(placeholder + "\\" + unique))
                found = list(users_dir().glob(pattern.format(unique)))
                for folder in found:
                    self.addCleanup(shutil.rmtree, folder, True)
                self.assertEqual(run.returncode, 0, run.out + run.err)
                self.assertEqual(len(found), 1, pattern)
                self.assertTrue((found[0] / "hello.exe").is_file())


if __name__ == "__main__":
    unittest.main()
