#!/usr/bin/env bash
# Installs the Debian 12 packages that the build and the tests need, and only
# those that are missing: apt-get update runs once, and only when something is.
set -euo pipefail

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
  clang-14 libfuzzer-14-dev libclang-rt-14-dev
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
  echo "deps.sh: all ${#packages[@]} packages are installed"
  exit 0
fi

echo "deps.sh: installing ${missing[*]}"
sudo=()
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "deps.sh: run as root or install sudo" >&2; exit 1; }
  sudo=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive \
  apt-get install -y --no-install-recommends "${missing[@]}"
