"""A Wine prefix of the benchmark's own, with a persistent wineserver for
the run, so that each Windows program starts warm."""

import os
import shutil
import subprocess
from pathlib import Path

WINE = shutil.which("wine64") or "/usr/lib/wine/wine64"
WINESERVER = shutil.which("wineserver") or "/usr/lib/wine/wineserver"


def windows_path(path):
    """The name Wine's Z: drive gives a Linux path."""
    return "Z:" + str(Path(path).resolve()).replace("/", "\\")


class WinePrefix:
    def __init__(self, path):
        self.path = Path(path)
        self.env = dict(os.environ, WINEPREFIX=str(self.path), WINEDEBUG="-all")
        self.env.pop("DISPLAY", None)  # no window is wanted, and none is needed
        self.server_started = False

    def start(self):
        if not (self.path / "system.reg").exists():
            shutil.rmtree(self.path, ignore_errors=True)
            subprocess.run([WINE, "wineboot", "-i"], env=self.env, capture_output=True, timeout=600)
        # wineboot leaves a short-lived server behind; a persistent one keeps
        # every later start warm
        subprocess.run([WINESERVER, "-k"], env=self.env, capture_output=True)
        # detached from our streams: the server outlives this call
        subprocess.run([WINESERVER, "-p"], env=self.env, check=True, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.server_started = True

    def stop(self):
        if self.server_started:
            subprocess.run([WINESERVER, "-k"], env=self.env, capture_output=True)
            self.server_started = False

    def command(self, exe, *args):
        return [WINE, str(exe), *map(str, args)]

    def local_app_data(self):
        users = self.path / "drive_c" / "users"
        user = os.environ.get("USER") or os.environ.get("LOGNAME") or "root"
        for home in [users / user] + sorted(p for p in users.iterdir() if p.name != "Public"):
            folder = home / "AppData" / "Local"
            if folder.is_dir():
                return folder
        raise RuntimeError(f"no AppData\\Local in the Wine prefix {self.path}")
