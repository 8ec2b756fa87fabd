"""Unpack specs under Wine: where a real launcher puts the application, and
how it fails when its spec cannot be expanded."""

import re
import shutil
import unittest
import uuid

from harness import (EXAMPLES, PREFIX, WineTestCase, build_launcher, run_wine, windows_path)

HELLO = EXAMPLES / "hello"


def users_dir():
    return PREFIX / "drive_c" / "users"


class UnpackSpec(WineTestCase):
    def launcher(self, spec, name="App.exe"):
        return build_launcher(HELLO, self.tmp / name, "--main", "hello.exe", "--unpack-spec", spec)

    def test_failed_spec_prints_the_template_and_aborts(self):
        # The first leaves nothing to normalise, the second a usable prefix:
        # both must report the template itself.
        for spec in ["{NOPE}\\x", windows_path(self.tmp) + "\\out\\{TEMPX}"]:
            with self.subTest(spec=spec):
                run = run_wine(self.launcher(spec))
                self.assertEqual(run.stderr_bytes, f"Error, couldn't runtime expand spec '{spec}'.\r\n".encode())
                self.assertEqual(run.out, "")
                self.assertEqual(run.returncode, 3)   # abort's status under Wine
                self.assertFalse((self.tmp / "out").exists())

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
        self.assertTrue((self.tmp / "Tool.d" / "Quen Lith" / "1.0.20" / "hello.exe").is_file())

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
