"""Linux launchers made by `zembra build --target linux`, run natively: what
the child sees, the per-user cache and its repair, the modes of unpacked
files, the exit status and the signals. No Wine is involved."""

import os
import shutil
import signal
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

REPO = Path(__file__).resolve().parents[2]
STAGE = Path(os.environ.get("STAGE_DIR", REPO / "build"))
PACKER = STAGE / "bin" / "zembra"
sys.path.insert(0, str(REPO / "tests" / "py"))   # without the Wine harness

from zembra_block import default_target  # noqa: E402

# The application's main program. "show" reports what it was given and
# reads a packed data file; the other modes exercise the signals.
APP_SOURCE = r"""
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static volatile sig_atomic_t got = 0;
static void on_signal(int number) { got = number; }

static void ready(void) {
    printf("ready %ld\n", (long)getpid());
    fflush(stdout);
}

int main(int argc, char** argv) {
    const char* mode = argc > 1 ? argv[1] : "show";
    if (strcmp(mode, "trap") == 0) {
        signal(SIGTERM, on_signal);
        ready();
        while (!got) pause();
        printf("got %d\n", (int)got);
        return 7;
    }
    if (strcmp(mode, "ignore") == 0) {
        signal(SIGTERM, SIG_IGN);
        ready();
        for (;;) pause();
    }
    if (strcmp(mode, "die") == 0) {
        kill(getpid(), atoi(argv[2]));
        return 0;
    }
    for (int i = 0; i < argc; ++i) printf("arg %s\n", argv[i]);
    const char* names[] = {"ZEMBRA_ONEFILE_PARENT", "ZEMBRA_ONEFILE_DIRECTORY", "ZEMBRA_ORIGINAL_ARGV0",
                           "LINUX_E2E_PROBE"};
    for (int i = 0; i < 4; ++i) printf("env %s=%s\n", names[i], getenv(names[i]) ? getenv(names[i]) : "");
    char cwd[4096];
    printf("cwd %s\n", getcwd(cwd, sizeof cwd));
    char line[256] = "";
    if (fgets(line, sizeof line, stdin)) printf("stdin %s", line);
    char self[4096];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    self[n > 0 ? n : 0] = 0;
    strcpy(strrchr(self, '/') + 1, "data/greeting.txt");
    FILE* f = fopen(self, "rb");
    if (f && fgets(line, sizeof line, f)) printf("greeting %s", line);
    fprintf(stderr, "to stderr\n");
    return argc > 2 && strcmp(argv[argc - 2], "--exit") == 0 ? atoi(argv[argc - 1]) : 0;
}
"""


def packer(*args):
    return subprocess.run([str(PACKER), *map(str, args)], capture_output=True, text=True, timeout=300)


def snapshot(root):
    """Every file below root with what a rewrite would change."""
    result = {}
    for path in sorted(Path(root).rglob("*")):
        if path.is_file():
            info = path.stat()
            result[str(path.relative_to(root))] = (info.st_ino, info.st_mtime_ns, info.st_ctime_ns, info.st_mode)
    return result


class LinuxLauncherTest(unittest.TestCase):
    runs_linux_launcher = True

    @classmethod
    def setUpClass(cls):
        cls.work = Path(tempfile.mkdtemp(prefix="linux-launcher."))
        app = cls.work / "app"
        (app / "data").mkdir(parents=True)
        (app / "tools").mkdir()
        (cls.work / "hello.c").write_text(APP_SOURCE)
        subprocess.run(["gcc", "-O2", "-o", str(app / "hello"), str(cls.work / "hello.c")], check=True)
        shutil.copy(app / "hello", app / "tools" / "helper")
        # Trailing bytes an ELF loader ignores: a main program big enough
        # that launchers started together overlap while writing it.
        with open(app / "hello", "ab") as main:
            main.write(os.urandom(8 << 20))
        (app / "tools" / "helper.sh").write_text("#!/bin/sh\necho helper\n")
        (app / "data" / "greeting.txt").write_text("hello from the data\n")
        (app / "data" / "empty").write_bytes(b"")
        # Modes on the input must not matter: only the content decides.
        os.chmod(app / "tools" / "helper.sh", 0o644)
        os.chmod(app / "data" / "greeting.txt", 0o755)
        cls.launcher = cls.work / "bin" / "Hello"
        cls.launcher.parent.mkdir()
        built = packer("build", app, "--main", "hello", "--target", "linux", "--level", "1", "-o", cls.launcher)
        if built.returncode != 0:
            raise AssertionError("packer failed: " + built.stderr)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.work, ignore_errors=True)

    def setUp(self):
        self.cache = Path(tempfile.mkdtemp(prefix="cache.", dir=self.work))
        self.target = default_target(self.cache)
        self.env = dict(os.environ, XDG_CACHE_HOME=str(self.cache), LINUX_E2E_PROBE="inherited",
                        ZEMBRA_ONEFILE_PARENT="1")

    def start(self, launcher, *args, stdin=subprocess.DEVNULL, cwd=None):
        return subprocess.Popen([str(launcher), *args], env=self.env, stdin=stdin, cwd=cwd,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)

    def test_is_elf_and_needs_only_the_c_library(self):
        self.assertEqual(self.launcher.read_bytes()[:4], b"\x7fELF")
        libraries = subprocess.run(["ldd", str(self.launcher)], capture_output=True, text=True, check=True).stdout
        names = [line.split()[0] for line in libraries.splitlines() if line.strip()]
        allowed = ("linux-vdso.so", "libc.so", "libm.so", "ld-linux-x86-64.so", "/lib64/ld-linux-x86-64.so")
        self.assertTrue(names)
        for name in names:
            self.assertTrue(name.startswith(allowed), libraries)

    def test_runs_the_application_cold_then_warm_and_repairs_a_changed_file(self):
        cwd = self.work / "somewhere"
        cwd.mkdir(exist_ok=True)

        def run():
            child = self.start(Path("..") / "bin" / "Hello", "two words", "", "--exit", "3", cwd=cwd,
                               stdin=subprocess.PIPE)
            out, err = child.communicate("typed line\n", timeout=60)
            return child, out, err

        child, out, err = run()   # cold: the cache is empty
        self.assertEqual(err, "to stderr\n")
        self.assertEqual(child.returncode, 3)
        self.assertEqual(out.splitlines(), [
            "arg " + str(self.launcher), "arg two words", "arg ", "arg --exit", "arg 3",
            "env ZEMBRA_ONEFILE_PARENT=" + str(child.pid),
            "env ZEMBRA_ONEFILE_DIRECTORY=" + str(self.launcher.parent),
            "env ZEMBRA_ORIGINAL_ARGV0=../bin/Hello",
            "env LINUX_E2E_PROBE=inherited",
            "cwd " + str(cwd),
            "stdin typed line",
            "greeting hello from the data",
        ])
        self.assertEqual(sorted(snapshot(self.target)),
                         ["data/empty", "data/greeting.txt", "hello", "tools/helper", "tools/helper.sh"])

        # Warm: an empty entry is always recreated (an empty file has no
        # checksum to match); every other file stays untouched.
        before = snapshot(self.target)
        child, out, _ = run()
        self.assertEqual(child.returncode, 3)
        after = snapshot(self.target)
        del before["data/empty"], after["data/empty"]
        self.assertEqual(before, after)

        # One byte changed and a file grown: both come back whole.
        greeting = self.target / "data" / "greeting.txt"
        greeting.write_text("Hello from the data\n")
        (self.target / "tools" / "helper.sh").write_text("#!/bin/sh\necho helper\nexit 9\n")
        child, out, _ = run()
        self.assertEqual(child.returncode, 3)
        self.assertIn("greeting hello from the data", out)
        self.assertEqual((self.target / "tools" / "helper.sh").read_text(), "#!/bin/sh\necho helper\n")
        self.assertEqual(snapshot(self.target)["hello"], after["hello"])

    def test_arguments_reach_the_child_as_they_are_however_long(self):
        # No command line is joined on Linux: quotes, backslashes and spaces
        # pass unchanged, and more text than a Windows command line holds
        # passes whole.
        args = ['say "hi"', "back\\slash\\", "", "x" * 40000]
        child = self.start(self.launcher, *args)
        out, err = child.communicate(timeout=60)
        self.assertEqual((child.returncode, err), (0, "to stderr\n"))
        self.assertEqual(out.splitlines()[:5], ["arg " + str(self.launcher)] + ["arg " + arg for arg in args])

    def test_launchers_started_together_on_a_cold_cache_all_run(self):
        # Without the unpack lock one launcher would truncate the program
        # another is starting (the start or the open fails with ETXTBSY).
        children = [self.start(self.launcher, "--exit", "5") for _ in range(6)]
        for child in children:
            out, err = child.communicate(timeout=120)
            self.assertEqual((child.returncode, err), (5, "to stderr\n"))
            self.assertIn("greeting hello from the data", out)

    def test_programs_and_scripts_are_executable_and_data_is_not(self):
        child = self.start(self.launcher)
        child.communicate(timeout=60)
        self.assertEqual(child.returncode, 0)
        mask = os.umask(0)
        os.umask(mask)
        for name, executable in [("hello", True), ("tools/helper", True), ("tools/helper.sh", True),
                                 ("data/greeting.txt", False), ("data/empty", False)]:
            mode = (self.target / name).stat().st_mode & 0o777
            self.assertEqual(mode, (0o777 if executable else 0o666) & ~mask, name)
        helper = subprocess.run([str(self.target / "tools" / "helper.sh")], capture_output=True, text=True)
        self.assertEqual(helper.stdout, "helper\n")

    def test_a_script_main_program_runs_and_a_plain_text_one_is_refused(self):
        cases = [("#!/bin/sh\necho \"script $# $1\"\nexit 4\n", 4, "script 1 x\n", ""),
                 ("echo no interpreter line\n", 2, "", "Error, couldn't launch child ([Error 13] ")]
        for index, (text, code, out_start, err_start) in enumerate(cases):
            with self.subTest(text=text):
                app = self.work / ("script%d" % index)
                app.mkdir()
                (app / "run").write_text(text)
                launcher = self.work / ("Script%d" % index)
                built = packer("build", app, "--main", "run", "--target", "linux", "-o", launcher)
                self.assertEqual(built.returncode, 0, built.stderr)
                child = self.start(launcher, "x")
                out, err = child.communicate(timeout=60)
                self.assertEqual(child.returncode, code, err)
                self.assertTrue(out.startswith(out_start), out)
                self.assertTrue(err.startswith(err_start), err)
        # No extension marks a Linux main program: it must be named.
        refused = packer("build", self.work / "script0", "--target", "linux", "-o", self.work / "Unnamed")
        self.assertEqual(refused.returncode, 1)
        self.assertIn("--target linux needs --main", refused.stderr)

    def wait_ready(self, child):
        line = child.stdout.readline()
        self.assertTrue(line.startswith("ready "), line)
        return int(line.split()[1])

    def test_sigterm_reaches_the_child_which_keeps_its_status(self):
        child = self.start(self.launcher, "trap")
        self.wait_ready(child)
        child.send_signal(signal.SIGTERM)   # to the launcher alone
        out, _ = child.communicate(timeout=60)
        self.assertEqual(out, "got %d\n" % signal.SIGTERM)
        self.assertEqual(child.returncode, 7)

    def test_a_child_that_ignores_sigterm_is_killed_and_the_launcher_ends_by_sigterm(self):
        child = self.start(self.launcher, "ignore")
        pid = self.wait_ready(child)
        child.send_signal(signal.SIGTERM)
        child.communicate(timeout=60)
        self.assertEqual(child.returncode, -signal.SIGTERM)
        with self.assertRaises(ProcessLookupError):
            os.kill(pid, 0)

    def test_a_child_ended_by_a_signal_ends_the_launcher_the_same_way(self):
        for number in (signal.SIGUSR1, signal.SIGKILL):
            with self.subTest(signal=number):
                child = self.start(self.launcher, "die", str(int(number)))
                child.communicate(timeout=60)
                self.assertEqual(child.returncode, -number)


if __name__ == "__main__":
    unittest.main()
