"""Console control events reaching a real launcher under Wine, delivered by
console_event.exe to the launcher and to its child, as a console would.
ZEMBRA_ROUNDS repeats the events delivered to a running child that many times."""

import json
import re
import shutil
import unittest

from harness import WIN_TOOLS, WineTestCase, build_launcher, run_wine, windows_path, write_tree
from verified_app import rounds

PROBE = WIN_TOOLS / "probe.exe"
DRIVER = WIN_TOOLS / "console_event.exe"


class ConsoleEventTest(WineTestCase):
    def pack(self, extra_files=None, *options):
        app = self.tmp / "app"
        app.mkdir()
        shutil.copy(PROBE, app / "probe.exe")
        write_tree(app, extra_files or {})
        self.cache = self.tmp / "cache"
        return build_launcher(app, self.tmp / "launcher.exe", "--unpack-spec", windows_path(self.cache), *options)

    def deliver(self, launcher, wait_file, event, env, child_mark=None):
        """Runs the driver; returns its report as a dict of numbers. With
        `child_mark`, the child gets the event first and the launcher once the
        child has written that file."""
        mark = [windows_path(child_mark)] if child_mark else []
        run = run_wine(DRIVER, windows_path(launcher), "launcher", windows_path(wait_file), str(event), *mark,
                       env=env, timeout=300)
        report = dict(re.findall(r"^(\w+)=(\d+)", run.out, re.M))
        self.assertNotIn("ended-before-condition", run.out, run.err)
        self.assertEqual(report.get("delivered"), "1", run.out + run.err)
        if "child_pid" in report:
            self.assertEqual(report.get("child_delivered"), "1", run.out + run.err)
        report = {key: int(value) for key, value in report.items()}
        # The child the driver found must be the probe, by the id it reports.
        if "child_pid" in report and wait_file.suffix == ".json":
            self.assertEqual(report["child_pid"], json.loads(wait_file.read_text())["pid"], run.out)
        return report, run

    def test_child_that_ends_on_the_event_keeps_its_exit_code(self):
        launcher = self.pack()
        for round_number, event in [(r, e) for r in range(rounds(1)) for e in (0, 1, 2)]:
            with self.subTest(round=round_number, event=event):
                ready = self.tmp / f"ready-{round_number}-{event}.json"
                report, run = self.deliver(launcher, ready, event, {
                    "PROBE_OUT": windows_path(ready),
                    "PROBE_ON_EVENT": "exit:7",
                    "PROBE_SLEEP_MS": "120000",
                })
                self.assertIn("child_pid", report, run.out)
                self.assertEqual(report["child_exit"], 7)
                self.assertEqual(report["launcher_exit"], 7)

    def test_child_that_ignores_the_event_is_terminated(self):
        launcher = self.pack()
        for round_number, event in [(r, e) for r in range(rounds(1)) for e in (0, 1, 2)]:
            with self.subTest(round=round_number, event=event):
                ready = self.tmp / f"ready-{round_number}-{event}.json"
                mark = self.tmp / f"mark-{round_number}-{event}"
                report, run = self.deliver(launcher, ready, event, {
                    "PROBE_OUT": windows_path(ready),
                    "PROBE_ON_EVENT": "ignore",
                    "PROBE_EVENT_MARK": windows_path(mark),
                    "PROBE_SLEEP_MS": "120000",
                    "PROBE_EXIT": "77",
                }, child_mark=mark)
                self.assertIn("child_pid", report, run.out)
                # The child saw the event and went on; the launcher ended it
                # with exit code 0 and ended with that code itself.
                self.assertEqual(mark.read_text(), str(event))
                self.assertEqual(report["child_exit"], 0)
                self.assertEqual(report["launcher_exit"], 0)

    def test_event_during_unpacking_touches_no_child(self):
        # Entries after the main executable keep the launcher unpacking long
        # after the first of them appears on disk.
        big = bytes(96 * 1024 * 1024)
        launcher = self.pack({f"data/{n}.bin": big for n in range(3)}, "--level", "1")
        ready = self.tmp / "ready.json"
        report, run = self.deliver(launcher, self.cache / "data" / "0.bin", 0, {
            "PROBE_OUT": windows_path(ready),
            "PROBE_SLEEP_MS": "120000",
        })
        self.assertNotIn("child_pid", report, run.out)
        self.assertIn("child=none", run.out)
        self.assertIn("launcher_exit", report)
        self.assertFalse(ready.exists(), "the child was started")
        self.assertFalse((self.cache / "data" / "2.bin").exists(), "the unpacking went on")


if __name__ == "__main__":
    unittest.main()
