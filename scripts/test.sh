#!/usr/bin/env bash
# Runs every test: builds both trees, runs the unit tests and the end-to-end
# tests (real launchers under Wine, in a throwaway prefix), then the unit
# tests and the native Linux launcher's end-to-end tests again under
# AddressSanitizer and UndefinedBehaviorSanitizer, a short
# run of each fuzz target on its corpus, and the benchmarks' smoke run (which
# checks only that they work; no time is judged).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/build.sh"
jobs=$(nproc)

# shellcheck source=wine-env.sh
. "$root/scripts/wine-env.sh"
wine_start
trap wine_stop EXIT

status=0
(cd "$root/build/native" && ctest --output-on-failure -j "$jobs") || status=1

cmake -S "$root" -B "$root/build/asan" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DLAUNCHER_SANITIZE=ON \
  -DSTAGE_DIR="$root/build/asan/stage" >/dev/null
cmake --build "$root/build/asan" -j "$jobs"
(cd "$root/build/asan" && ASAN_OPTIONS=detect_leaks=0 ctest --output-on-failure -j "$jobs" -L unit) || status=1
# The end-to-end tests that run the Linux launcher natively, once more with
# the sanitized packer and Linux stub of that tree: a sanitizer's report fails
# the test it appeared in.
(cd "$root/tests/e2e" && STAGE_DIR="$root/build/asan/stage" /usr/bin/python3 linux_launcher_suite.py) || status=1

bash "$root/tests/fuzz/run" 20 || status=1
/usr/bin/python3 "$root/bench/run" --smoke || status=1
exit $status
