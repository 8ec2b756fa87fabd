"""Running one command and taking its wall-clock time and peak resident
memory, through the small `timed` helper (bench/timed.c). The memory is the
peak of the process started (after its exec chain): under Wine that is the
Windows process itself, since Wine starts other Windows processes detached
from it."""

import os
import statistics
import subprocess
import tempfile
import time

_timed = None


class Failed(Exception):
    pass


class Sample:
    def __init__(self, seconds, peak_kib, returncode, cpu_seconds):
        self.seconds = seconds
        self.peak_kib = peak_kib
        self.returncode = returncode
        self.cpu_seconds = cpu_seconds


def use_helper(timed_path):
    global _timed
    _timed = str(timed_path)


def run(argv, env=None, check=True):
    """Runs `argv` with no input and its output thrown away; returns a
    Sample. With `check`, a non-zero exit raises Failed with the command's
    error output."""
    argv = [str(a) for a in argv]
    with tempfile.NamedTemporaryFile("r") as result, tempfile.TemporaryFile() as errors:
        completed = subprocess.run([_timed, result.name, *argv], stdin=subprocess.DEVNULL,
                                   stdout=subprocess.DEVNULL, stderr=errors, env=env)
        line = result.read().split()
        if completed.returncode != 0 or len(line) != 4:
            raise Failed(f"could not measure {' '.join(argv)} (status {completed.returncode})")
        sample = Sample(float(line[0]), int(line[1]), int(line[2]), float(line[3]))
        if check and sample.returncode != 0:
            errors.seek(0)
            text = errors.read().decode("utf-8", "replace").strip()
            raise Failed(f"{' '.join(argv)} exited with {sample.returncode}: {text[-2000:]}")
        return sample


def run_pipeline(first, second, output_path):
    """`first | second > output_path`; returns the wall-clock seconds. Only
    used for runs of seconds, where starting the processes from here costs
    nothing that shows."""
    with open(output_path, "wb") as out:
        start = time.perf_counter()
        producer = subprocess.Popen(first, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE)
        consumer = subprocess.Popen(second, stdin=producer.stdout, stdout=out)
        producer.stdout.close()
        codes = (consumer.wait(), producer.wait())
        seconds = time.perf_counter() - start
    if codes != (0, 0):
        raise Failed(f"{' '.join(first)} | {' '.join(second)} failed with {codes}")
    return seconds


def median(values):
    return statistics.median(values)
