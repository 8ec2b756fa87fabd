"""Runs every end-to-end test that runs the Linux launcher natively: the test
classes of tests/e2e/test_*.py that say `runs_linux_launcher = True`. Meant
for a stage (STAGE_DIR) whose packer and Linux stub are built with
AddressSanitizer and UndefinedBehaviorSanitizer (scripts/test.sh uses
build/asan/stage): every sanitized program of the run, launcher or packer,
writes its reports into one directory, and a test during which a report
appeared fails with it, whatever the test itself judged of exit codes and
output.

    cd tests/e2e && STAGE_DIR=../../build/asan/stage python3 linux_launcher_suite.py [-v] [PART_OF_A_TEST_ID...]
"""

import importlib
import inspect
import os
import sys
import tempfile
import unittest
from pathlib import Path

HERE = Path(__file__).resolve().parent


def reports_dir():
    """The sanitizers' options for every program started from here on: stop
    at the first finding, and write it to a file of this run."""
    directory = Path(tempfile.mkdtemp(prefix="zembra-sanitizer-reports."))
    common = f"halt_on_error=1:exitcode=86:log_path={directory}/report"
    os.environ["ASAN_OPTIONS"] = f"{common}:detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1"
    os.environ["UBSAN_OPTIONS"] = f"{common}:print_stacktrace=1"
    # Tests that measure the launcher's own memory skip themselves.
    os.environ["ZEMBRA_SANITIZED"] = "1"
    return directory


def marked_tests(patterns):
    """The marked tests whose ids contain one of `patterns` (all without)."""
    suite = unittest.TestSuite()
    for path in sorted(HERE.glob("test_*.py")):
        module = importlib.import_module(path.stem)
        for _, cls in inspect.getmembers(module, inspect.isclass):
            if cls.__module__ == module.__name__ and getattr(cls, "runs_linux_launcher", False):
                for test in unittest.defaultTestLoader.loadTestsFromTestCase(cls):
                    if not patterns or any(pattern in test.id() for pattern in patterns):
                        suite.addTest(test)
    return suite


class ReportingResult(unittest.TextTestResult):
    """Fails a test during which a sanitizer wrote a report."""

    reports = None        # the directory
    attributed = set()    # the reports some test has been failed for

    def startTest(self, test):
        self.seen = set(self.reports.iterdir())
        super().startTest(test)

    def stopTest(self, test):
        new = sorted(set(self.reports.iterdir()) - self.seen)
        if new:
            self.attributed.update(new)
            text = "\n".join(f"{path.name}:\n{path.read_text(errors='replace')}" for path in new)
            self.failures.append((test, "sanitizer reports:\n" + text))
            self.stream.writeln(f"SANITIZER REPORT during {test.id()}")
        super().stopTest(test)


def main():
    sys.path.insert(0, str(HERE))
    ReportingResult.reports = reports_dir()
    options = [arg for arg in sys.argv[1:] if arg.startswith("-")]
    suite = marked_tests([arg for arg in sys.argv[1:] if not arg.startswith("-")])
    if suite.countTestCases() == 0:
        print("no marked test (runs_linux_launcher = True) is selected", file=sys.stderr)
        return 1
    verbosity = 2 if "-v" in options else 1
    result = unittest.TextTestRunner(verbosity=verbosity, resultclass=ReportingResult).run(suite)
    # Reports written outside any test, while a class set up or tore down.
    unattributed = sorted(set(ReportingResult.reports.iterdir()) - ReportingResult.attributed)
    for path in unattributed:
        print(f"sanitizer report outside a test, {path.name}:\n{path.read_text(errors='replace')}", file=sys.stderr)
    return 0 if result.wasSuccessful() and not unattributed else 1


if __name__ == "__main__":
    sys.exit(main())
