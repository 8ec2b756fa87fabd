"""The real Win32 platform code under faults, run under Wine: system_faults.exe
points the platform layer's table of system calls at hooks that fail or
shorten chosen calls, and checks each outcome itself."""

import re
import unittest

from harness import WIN_TOOLS, WineTestCase, run_wine, windows_path

PROGRAM = WIN_TOOLS / "system_faults.exe"

# One case at least for each fault the platform code must meet.
REQUIRED = [
    "write-short", "read-short",                       # a call that does less than asked
    "write-disk-full", "write-disk-full-at-once",      # a full disk
    "open-access-denied", "read-open-access-denied",   # access denied
    "open-sharing-violation", "read-open-sharing-violation",
    "dir-access-denied", "dir-path-not-found",         # a directory that cannot be made
    "start-fails-193", "start-fails-5",                # a child that cannot be started
    "wait-fails", "lock-wait-fails", "exit-code-unreadable",
    "thread-cannot-be-started",
]


class SystemFaultsTest(WineTestCase):
    def test_every_fault_meets_its_outcome(self):
        run = run_wine(PROGRAM, windows_path(self.tmp))
        failures = re.findall(r"^FAIL .*$", run.out, re.M)
        self.assertEqual(failures, [], run.out + run.err)
        passed = re.findall(r"^ok (\S+)$", run.out, re.M)
        summary = re.search(r"^cases=(\d+) failed=0$", run.out, re.M)
        self.assertTrue(summary, run.out + run.err)
        self.assertEqual(len(passed), int(summary.group(1)))
        self.assertEqual([name for name in REQUIRED if name not in passed], [])
        self.assertEqual(run.returncode, 0)


if __name__ == "__main__":
    unittest.main()
