#!/usr/bin/env bash
# Builds everything: the native tree (packer, POSIX launcher library, unit
# tests) in build/native and the Windows tree (launcher library, zstd decoder,
# test programs, example application) in build/windows. The packer ends up at
# build/bin/zembra.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/setup.sh"
jobs=$(nproc)
cmake -S "$root" -B "$root/build/native" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$root/build/native" -j "$jobs"
cmake -S "$root" -B "$root/build/windows" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" >/dev/null
cmake --build "$root/build/windows" -j "$jobs"
