#!/usr/bin/env bash
# Installs what building and testing need on Debian 12, then fetches the pinned
# zstd sources for the Windows build. Safe to run again: it does only what is
# missing.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

packages=(
  build-essential cmake ninja-build pkg-config
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-tools
  libz-mingw-w64-dev zlib1g-dev libzstd-dev zstd libdeflate-dev googletest libgtest-dev
  wine64 python3 python3-pefile icoutils libstb-dev libcli11-dev libtomlplusplus-dev clang libclang-rt-14-dev
)
command -v npm >/dev/null 2>&1 || packages+=(npm)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}" >&2
  sudo_cmd=""
  [ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
  $sudo_cmd apt-get update -q
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# zstd's library sources for the Windows build, from the npm registry, pinned
# by version and SHA-256.
# shellcheck source=deps.env
. "$root/scripts/deps.env"
dest="$root/.deps/zstd"
if [ ! -f "$dest/.verified" ]; then
  tmp=$(mktemp -d)
  trap 'rm -rf "$tmp"' EXIT
  (cd "$tmp" && npm pack --silent "$ZSTD_NPM_PACKAGE" >/dev/null)
  tarball=$(ls "$tmp"/*.tgz)
  echo "$ZSTD_NPM_SHA256  $tarball" | sha256sum -c --quiet -
  rm -rf "$dest" && mkdir -p "$dest"
  tar -xzf "$tarball" -C "$tmp"
  cp -r "$tmp/package/deps/zstd/lib" "$dest/lib"
  cp "$tmp/package/deps/zstd/LICENSE" "$dest/" 2>/dev/null || true
  touch "$dest/.verified"
fi

# libdeflate's sources, through apt from Debian's source archive: a sources
# list and package lists of this script's own, so the system's apt set-up is
# left as it is.
dest="$root/.deps/libdeflate"
if [ ! -f "$dest/.verified" ]; then
  src_tmp=$(mktemp -d)
  trap 'rm -rf "${tmp:-}" "$src_tmp"' EXIT
  mkdir -p "$src_tmp/lists/partial" "$src_tmp/get"
  suite=bookworm   # the release whose source package is pinned above
  echo "deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian $suite main" \
    >"$src_tmp/sources.list"
  apt_private=(-o "Dir::Etc::SourceList=$src_tmp/sources.list" -o Dir::Etc::SourceParts=/dev/null
               -o "Dir::State::Lists=$src_tmp/lists" -o Dir::Cache::pkgcache= -o Dir::Cache::srcpkgcache=
               -o Debug::NoLocking=1 -o APT::Sandbox::User="$(id -un)")
  apt-get "${apt_private[@]}" update -q >/dev/null
  (cd "$src_tmp/get" && apt-get "${apt_private[@]}" source --download-only -q "$LIBDEFLATE_DEBIAN_SOURCE" >/dev/null 2>&1)
  echo "$LIBDEFLATE_ORIG_SHA256  $src_tmp/get/$LIBDEFLATE_ORIG" | sha256sum -c --quiet -
  rm -rf "$dest" && mkdir -p "$dest"
  tar -xzf "$src_tmp/get/$LIBDEFLATE_ORIG" -C "$dest" --strip-components=1
  touch "$dest/.verified"
fi
