#!/usr/bin/env bash
# Installs the Debian packages that the build and the tests need, and only those that are
# missing: apt-get update runs once, and only when something is missing or a version has to
# be looked up. Proven on Debian 12 and 13. Packages whose names carry a version (the
# fuzzing toolchain) are chosen from what apt offers on this release, not from a list of
# release names: clang is the version that the release's own "clang" package depends on.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$repo"

sudo=()
if [ "$(id -u)" -ne 0 ]; then
  sudo=(sudo)
fi
updated=
apt_update() {
  [ -n "$updated" ] && return 0
  if [ ${#sudo[@]} -ne 0 ] && ! command -v sudo >/dev/null; then
    echo "deps.sh: run as root or install sudo" >&2
    exit 1
  fi
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update
  updated=1
}

# The release's default clang: its "clang" package depends on exactly one clang-N. The lists
# are fetched first only when apt knows no such package yet (a new machine).
clang_version() {
  local v
  v=$(cmake/clang-version.sh || true)
  if [ -z "$v" ]; then
    apt_update >&2
    v=$(cmake/clang-version.sh || true)
  fi
  [ -n "$v" ] || { echo "deps.sh: apt offers no clang-N behind the clang package" >&2; return 1; }
  echo "$v"
}

clang=$(clang_version)

packages=(
  cmake ninja-build g++
  g++-mingw-w64-x86-64-posix mingw-w64-tools binutils-mingw-w64-x86-64
  wine wine64 osslsigncode xvfb xauth
  nlohmann-json3-dev googletest libgtest-dev libgmock-dev
  python3 openssl ca-certificates imagemagick curl
  # OpenSSL libcrypto for the release tool (digests, PKCS#7)
  libssl-dev
  # CJK glyphs for Wine to draw the Japanese, Chinese and Korean texts with
  fonts-wqy-microhei
  # The fuzz targets (preset fuzz): clang with libFuzzer and the sanitizer runtimes
  "clang-$clang" "libfuzzer-$clang-dev" "libclang-rt-$clang-dev"
  # H.264 decoding behind Wine's Media Foundation, and Tahoma for GDI+'s generic sans-serif
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-libav fonts-wine
  # Finding, clicking and typing into the installer window in the window tests
  xdotool
)

missing=()
for p in "${packages[@]}"; do
  # "install ok installed" is the only state in which the package is usable;
  # a removed package keeps its config and would otherwise look present.
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  if [ "$status" != "install ok installed" ]; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "deps.sh: all ${#packages[@]} packages are installed (clang $clang)"
  exit 0
fi

echo "deps.sh: installing ${missing[*]}"
apt_update
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive \
  apt-get install -y --no-install-recommends "${missing[@]}"
