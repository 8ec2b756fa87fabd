"""The child as a real launcher starts it under Wine: its command line, its
arguments, its environment, handles and current directory, and its exit code
passed through unchanged."""

import json
import os
import re
import shutil
import subprocess
import tempfile
import unittest
from contextlib import ExitStack
from pathlib import Path

from harness import WINE, WIN_TOOLS, WineTestCase, build_launcher, run_wine, windows_path, write_tree

PROBE = WIN_TOOLS / "probe.exe"
EXIT_CODE = WIN_TOOLS / "exit_code.exe"


def join_arguments(args):
    """The system's quoting, so that CommandLineToArgvW in the launcher gives
    `args` back; used only to hand the launcher chosen arguments."""
    parts = []
    for arg in args:
        if arg and not re.search(r'[ \t\n\v"]', arg):
            parts.append(arg)
            continue
        out, backslashes = '"', 0
        for c in arg:
            if c == "\\":
                backslashes += 1
                continue
            out += "\\" * (backslashes * 2 + 1 if c == '"' else backslashes) + c
            backslashes = 0
        parts.append(out + "\\" * (backslashes * 2) + '"')
    return " ".join(parts)


def pack_probe(directory, launcher_name="launcher.exe"):
    """A launcher whose main executable is the probe, unpacking below
    `directory`/cache."""
    directory = Path(directory)
    app = directory / "app"
    app.mkdir(parents=True)
    shutil.copy(PROBE, app / "probe.exe")
    launcher = directory / launcher_name
    launcher.parent.mkdir(parents=True, exist_ok=True)
    return build_launcher(app, launcher, "--unpack-spec", windows_path(directory) + "\\cache")


def run_through(launcher, command_line, env=None, cwd=None):
    """Starts the launcher with exactly `command_line` through exit_code.exe;
    returns (launcher pid, full exit code, Run)."""
    run = run_wine(EXIT_CODE, windows_path(launcher), command_line, env=env, cwd=cwd)
    pid = re.search(r"^pid=(\d+)$", run.out, re.M)
    code = re.search(r"^exit=(\d+)$", run.out, re.M)
    if not pid or not code:
        raise AssertionError(f"exit_code.exe reported no exit code:\n{run.out}\n{run.err}")
    return int(pid.group(1)), int(code.group(1)), run


def run_with_streams(launcher, command_line, stdin_kind, stdout_kind, stderr_kind, directory, stdin_data, env,
                     cwd):
    """Starts the launcher without a console through exit_code.exe, with each
    standard stream a pipe or a file (in `directory`) of its own, `stdin_data`
    waiting on standard input; returns the text that came out of standard
    output and standard error (line ends as LF)."""
    full_env = {**os.environ, **env}
    with ExitStack() as files:
        def stream(name, kind, mode):
            if kind == "pipe":
                return subprocess.PIPE
            if mode == "rb":
                (directory / name).write_bytes(stdin_data)
            return files.enter_context(open(directory / name, mode))

        process = subprocess.Popen([WINE, str(EXIT_CODE), "--detached", windows_path(launcher), command_line],
                                   stdin=stream("stdin", stdin_kind, "rb"), stdout=stream("stdout", stdout_kind, "wb"),
                                   stderr=stream("stderr", stderr_kind, "wb"), env=full_env, cwd=cwd)
        out, err = process.communicate(stdin_data if stdin_kind == "pipe" else None, timeout=120)
    texts = {"stdout": out, "stderr": err}
    for name, kind in (("stdout", stdout_kind), ("stderr", stderr_kind)):
        if kind == "file":
            texts[name] = (directory / name).read_bytes()
    return {name: data.decode("utf-8", "replace").replace("\r\n", "\n") for name, data in texts.items()}


def probe_report(run):
    line = next((l for l in run.out.splitlines() if l.startswith('{"command_line"')), None)
    if line is None:
        raise AssertionError(f"no report from the probe:\n{run.out}\n{run.err}")
    return json.loads(line)


class ChildTest(WineTestCase):
    @classmethod
    def setUpClass(cls):
        cls.shared = Path(tempfile.mkdtemp(prefix="zembra-child."))
        cls.launcher = pack_probe(cls.shared)
        cls.module = windows_path(cls.launcher)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.shared, ignore_errors=True)

    def test_command_line_is_joined_exactly_and_split_back(self):
        cases = [
            (["--mode", "fast"], " --mode fast"),
            ([], ""),
            (['say "hi"'], ' "say \\"hi\\""'),
            (["C:\\dir with space\\"], ' "C:\\dir with space\\\\"'),
            (['a\\\\"b'], ' "a\\\\\\\\\\"b"'),
            (["a\\\\b c"], ' "a\\\\b c"'),
            (["sp end\\\\"], ' "sp end\\\\\\\\"'),
            (["no\\quote\\"], " no\\quote\\"),
            (['"'], ' "\\""'),
            (["x", "", "y"], " x  y"),
            (["one\rtwo"], " one\rtwo"),
            (["tab\there", "\u00e9\u4e2d\U0001F600"], ' "tab\there" \u00e9\u4e2d\U0001F600'),
        ]
        for args, tail in cases:
            with self.subTest(args=args):
                line = "typed\\name " + join_arguments(args) if args else "typed\\name"
                _, code, run = run_through(self.launcher, line)
                self.assertEqual(code, 0, run.err)
                report = probe_report(run)
                self.assertEqual(report["command_line"], self.module + tail)
                self.assertEqual(report["argv"], [self.module] + [a for a in args if a])
                self.assertEqual(report["env"]["ZEMBRA_ORIGINAL_ARGV0"], "typed\\name")

    def test_module_path_with_a_space_is_quoted(self):
        launcher = pack_probe(self.tmp, "dir with space/launcher.exe")
        _, code, run = run_through(launcher, "launcher x")
        self.assertEqual(code, 0, run.err)
        report = probe_report(run)
        self.assertEqual(report["command_line"], f'"{windows_path(launcher)}" x')
        self.assertEqual(report["argv"], [windows_path(launcher), "x"])

    def test_child_gets_handles_directory_and_environment(self):
        # Started without a console, the launcher's console child would get a
        # console of its own and its handles unless the launcher hands it its
        # standard handles. Each stream is, in turn, a file and a pipe of the
        # test's; the probe's report goes to a file of its own, so that what
        # comes through each stream is judged apart from the report.
        work = self.tmp / "work"
        work.mkdir()
        inherited = {
            "ZEMBRA_ONEFILE_PARENT": "12345",
            "ZEMBRA_ONEFILE_START": "1",
            "ZEMBRA_ONEFILE_TIME_US": "000001",
            "ZEMBRA_ONEFILE_RANDOM": "stale",
            "ZEMBRA_ONEFILE_DIRECTORY": "C:\\stale",
            "PROBE_READ_STDIN": "1",
            "PROBE_WRITE_STREAMS": "1",
        }
        kind_of = {"file": "disk", "pipe": "pipe"}
        for stdin_kind, stdout_kind, stderr_kind in [("file", "pipe", "pipe"), ("pipe", "file", "file")]:
            with self.subTest(stdin=stdin_kind, stdout=stdout_kind, stderr=stderr_kind):
                case = self.tmp / f"{stdin_kind}-{stdout_kind}-{stderr_kind}"
                case.mkdir()
                report_file = case / "report.json"
                streams = run_with_streams(self.launcher, "..\\Launcher a", stdin_kind, stdout_kind, stderr_kind,
                                           case, b"hello-stdin", env={**inherited, "PROBE_OUT": windows_path(report_file)},
                                           cwd=work)
                pid = re.search(r"^pid=(\d+)$", streams["stdout"], re.M)
                self.assertRegex(streams["stdout"], r"(?m)^exit=0$", streams)
                self.assertTrue(report_file.exists(), f"no report from the probe: {streams}")
                report = json.loads(report_file.read_text())
                self.assertEqual(report["env"], {
                    "ZEMBRA_ONEFILE_PARENT": pid.group(1),
                    "ZEMBRA_ONEFILE_START": None,
                    "ZEMBRA_ONEFILE_TIME_US": None,
                    "ZEMBRA_ONEFILE_RANDOM": None,
                    "ZEMBRA_ONEFILE_DIRECTORY": windows_path(self.shared),
                    "ZEMBRA_ORIGINAL_ARGV0": "..\\Launcher",
                })
                self.assertEqual(report["cwd"].lower(), windows_path(work).lower())
                self.assertEqual(report["handles"], {
                    "stdin": {"valid": True, "type": kind_of[stdin_kind]},
                    "stdout": {"valid": True, "type": kind_of[stdout_kind]},
                    "stderr": {"valid": True, "type": kind_of[stderr_kind]},
                })
                self.assertEqual(report["stdin_text"], "hello-stdin")
                self.assertIn("probe-stdout\n", streams["stdout"])
                self.assertEqual(streams["stderr"], "probe-stderr\n")

    def test_exit_code_passes_through_whole(self):
        for code in (0, 7, 256, 0xC0000005):
            with self.subTest(code=hex(code)):
                _, got, run = run_through(self.launcher, "launcher", env={"PROBE_EXIT": str(code)})
                self.assertEqual(got, code, run.err)


class LaunchFailureTest(WineTestCase):
    def test_main_executable_that_is_not_a_program(self):
        app = write_tree(self.tmp / "app", {"main.exe": "this is text, not a program\n"})
        launcher = build_launcher(app, self.tmp / "launcher.exe",
                                  "--unpack-spec", windows_path(self.tmp) + "\\cache")
        run = run_wine(launcher)
        self.assertEqual(run.returncode, 2)
        self.assertEqual(run.out, "")
        self.assertRegex(run.err, r"\AError, couldn't launch child \(\[Error 193\] [^\n]*\)\n\Z")


if __name__ == "__main__":
    unittest.main()
