#!/usr/bin/env bash
# The demo: builds everything, installs the packer into a scratch prefix
# (build/demo/prefix) and uses it from PATH as a user would, packs the
# example application (examples/hello: a console program and its data files)
# into one Windows launcher, packs it again with the Windows packer under
# Wine (the same bytes), and runs the launcher under Wine twice: a cold start that unpacks into the
# per-user cache, and a warm start that finds every file intact and writes
# nothing. Then the same for the Linux build of the example and launcher.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/build.sh" >/dev/null
# shellcheck source=wine-env.sh
. "$root/scripts/wine-env.sh"
wine_start
trap wine_stop EXIT

prefix="$root/build/demo/prefix"
rm -rf "$prefix"
echo "== installing the packer: cmake --install build/native --prefix build/demo/prefix"
cmake --install "$root/build/native" --prefix "$prefix" >/dev/null
export PATH="$prefix/bin:$PATH"
echo "   $(zembra --version), at $(command -v zembra)"

app="$root/build/demo/Hello.exe"
mkdir -p "$(dirname "$app")"
echo "== packing build/examples/hello into build/demo/Hello.exe"
zembra build "$root/build/examples/hello" --main hello.exe -o "$app"
ls -l "$app" | awk '{print "   " $5 " bytes"}'
echo "== what is inside it, and whether it is intact: zembra list, zembra verify"
zembra list "$app"
zembra verify "$app"
echo "== the Windows packer (build/bin/zembra.exe) under Wine, from the same input"
(cd "$root/build" && "$WINE" bin/zembra.exe build examples/hello --main hello.exe -o demo/Hello-by-zembra.exe)
if cmp -s "$app" "$root/build/demo/Hello-by-zembra.exe"; then echo "   the same bytes"; else echo "   the launchers differ"; fi

cache=$(ls -d "$WINEPREFIX"/drive_c/users/*/AppData/Local 2>/dev/null | head -n 1)
rm -rf "$cache/Quenlith"

run() {
  set +e
  "$@" "two words" --exit 3 | tr -d '\r'
  local code=${PIPESTATUS[0]}
  set -e
  echo "== the launcher exited with code $code"
}

echo
echo "== cold start (empty cache)"
run "$WINE" "$app"
echo "== unpacked into the cache:"
(cd "$cache" && find Quenlith -type f | sort | sed 's/^/   /')
echo
echo "== warm start (every file already there with the right checksum)"
warm() {
  local before after
  before=$(find "$1/Quenlith" -type f -printf '%T@ %p\n' | sort)
  run "${@:2}"
  after=$(find "$1/Quenlith" -type f -printf '%T@ %p\n' | sort)
  if [ "$before" = "$after" ]; then echo "== no file was rewritten"; else echo "== files were rewritten"; fi
}
warm "$cache" "$WINE" "$app"

echo
echo "== Linux: packing build/examples/hello-linux into build/demo/hello-linux"
linux_app="$root/build/demo/hello-linux"
zembra build "$root/build/examples/hello-linux" --main hello --target linux -o "$linux_app"
export XDG_CACHE_HOME="$root/build/demo/cache"
rm -rf "$XDG_CACHE_HOME"
echo "== Linux cold start (empty cache in $XDG_CACHE_HOME)"
run "$linux_app"
echo "== Linux warm start"
warm "$XDG_CACHE_HOME" "$linux_app"
