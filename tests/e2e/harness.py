"""Shared pieces of the end-to-end tests: pack real launchers with the packer
and run them under Wine, in the prefix that scripts/test.sh prepares (or a
throwaway one made here when a test file is run on its own)."""

import atexit
import os
import shutil
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

REPO = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(REPO / "tests" / "py"))   # zembra_block, for every test file
STAGE = Path(os.environ.get("STAGE_DIR", REPO / "build"))
PACKER = STAGE / "bin" / "zembra"
WIN_TOOLS = STAGE / "tests" / "win"
EXAMPLES = STAGE / "examples"
WINE = os.environ.get("WINE") or shutil.which("wine64") or "/usr/lib/wine/wine64"
WINESERVER = os.environ.get("WINESERVER") or shutil.which("wineserver") or "/usr/lib/wine/wineserver"


def _start_wine_services():
    """For a prefix prepared elsewhere: the first program its server runs
    starts Wine's own services, which inherit that program's standard streams
    and outlive it, so a test capturing output would wait for them forever.
    Started here, they hold /dev/null instead."""
    subprocess.run([WINE, "cmd", "/c", "exit"], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=300)


def _ensure_prefix():
    if os.environ.get("WINEPREFIX"):
        _start_wine_services()
        return
    prefix = tempfile.mkdtemp(prefix="zembra-wine.")
    os.environ["WINEPREFIX"] = prefix
    os.environ["WINEDEBUG"] = "-all"
    subprocess.run([WINESERVER, "-p"], check=True)
    # Boot under the persistent server, so that the prefix's services start
    # now with their output going nowhere: started by a test's first program,
    # they would inherit its pipes and keep them open for the life of the server.
    subprocess.run([WINE, "wineboot", "-i"], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=300)

    def cleanup():
        subprocess.run([WINESERVER, "-k"], capture_output=True)
        shutil.rmtree(prefix, ignore_errors=True)

    atexit.register(cleanup)


_ensure_prefix()
os.environ.setdefault("WINEDEBUG", "-all")
PREFIX = Path(os.environ["WINEPREFIX"])


def windows_path(path):
    """The Windows name Wine gives a Unix path (through drive Z:)."""
    return "Z:" + str(Path(path).resolve()).replace("/", "\\")


def local_app_data():
    """The Unix path of the Windows user's local application data folder."""
    users = PREFIX / "drive_c" / "users"
    user = os.environ.get("USER") or os.environ.get("LOGNAME") or "root"
    candidates = [users / user] + sorted(p for p in users.iterdir() if p.name != "Public")
    for home in candidates:
        folder = home / "AppData" / "Local"
        if folder.is_dir():
            return folder
    raise RuntimeError("no AppData\\Local in the Wine prefix")


def write_tree(root, files):
    """files: {relative path with '/': bytes or str}."""
    root = Path(root)
    for name, content in files.items():
        path = root / name
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(content.encode() if isinstance(content, str) else content)
    return root


def packer(*args, check=True, **kwargs):
    """Runs the packer; returns the CompletedProcess (text output)."""
    result = subprocess.run([str(PACKER), *map(str, args)], capture_output=True, text=True, **kwargs)
    if check and result.returncode != 0:
        raise AssertionError(f"packer {' '.join(map(str, args))} failed:\n{result.stderr}")
    return result


def build_launcher(input_dir, output_exe, *options):
    packer("build", input_dir, "-o", output_exe, *options)
    return Path(output_exe)


def build_indexed_launcher(input_dir, output_exe, main, *link_options, frame_target=4 << 20):
    """A launcher of `input_dir` whose block is indexed: packed by the packer
    in one frame, indexed by zembra_index, linked by the packer with
    `link_options`."""
    from zembra_index import indexed_from_block

    single = Path(output_exe).with_suffix(".single-block")
    packer("pack", input_dir, "--main", main, "--level", "1", "-o", single)
    indexed = Path(output_exe).with_suffix(".indexed-block")
    indexed.write_bytes(indexed_from_block(single.read_bytes(), frame_target).block)
    return link_launcher(indexed, output_exe, *link_options)


def link_launcher(block, output_exe, *options):
    packer("link", block, "-o", output_exe, *options)
    return Path(output_exe)


class Run:
    def __init__(self, completed):
        self.returncode = completed.returncode
        self.stdout_bytes = completed.stdout
        self.stderr_bytes = completed.stderr
        # Wine's C runtime ends lines in CR LF.
        self.out = completed.stdout.decode("utf-8", "replace").replace("\r\n", "\n")
        self.err = completed.stderr.decode("utf-8", "replace").replace("\r\n", "\n")


def run_wine(exe, *args, env=None, cwd=None, timeout=120, stdin=subprocess.DEVNULL):
    """Runs a Windows program under Wine with pipes for its streams. The
    exit code seen here is only the low 8 bits of the Windows one."""
    full_env = dict(os.environ)
    if env:
        full_env.update(env)
    completed = subprocess.run([WINE, str(exe), *map(str, args)], capture_output=True, env=full_env,
                               cwd=cwd, timeout=timeout, stdin=stdin)
    return Run(completed)


class WineTestCase(unittest.TestCase):
    """A test with its own scratch directory, removed afterwards."""

    def setUp(self):
        self.tmp = Path(tempfile.mkdtemp(prefix="zembra-e2e."))
        self.addCleanup(shutil.rmtree, self.tmp, True)
