#!/usr/bin/env bash
# Builds the Windows installer and runs its feed check under Wine on the sample
# channel feed (or on the feed file given as the first argument). The feed
# check is the installer's only job that works today.
#
#   scripts/demo.sh [FEED]
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
feed=$(realpath -e "${1:-$repo/demo/channel/latest.yml}")
cd "$repo"

scripts/deps.sh

echo
echo "==== windows: configure and build the installer"
cmake --preset windows
cmake --build --preset windows --target TavroInstaller

prefix="$repo/build/windows/wineprefix"
# shellcheck disable=SC2317  # called through the trap
stop_wine() { WINEPREFIX="$prefix" wineserver -k 2>/dev/null || true; }
trap stop_wine EXIT

# Wine maps the Linux root to drive Z:, so any absolute path has a Windows name.
feed_windows="Z:${feed//\//\\}"

# A start-up failure would show a message box, which needs a display; without
# one, a virtual display and a time limit keep the run from waiting forever.
# The prefix is stopped before the virtual display goes away, so that Wine's
# own processes do not complain about a lost X connection.
runner=(env TAVRO_BUILD_DIR="$repo/build/windows" cmake/wine-run.sh)
if [ -z "${DISPLAY:-}" ]; then
  # shellcheck disable=SC2016  # expanded by the inner bash
  runner=(timeout 300 xvfb-run -a bash -c \
    '"$@"; code=$?; WINEPREFIX="$0" wineserver -k 2>/dev/null; exit $code' "$prefix" "${runner[@]}")
fi

echo
echo "==== feed check: TavroInstaller.exe --verify-feed $feed_windows"
echo "---- feed:"
cat "$feed"
echo "----"
set +e
"${runner[@]}" build/windows/bin/TavroInstaller.exe --verify-feed "$feed_windows"
code=$?
set -e

echo "exit code: $code"
case $code in
  0) echo "meaning: the feed is accepted: it parses, names exactly one setup package" \
          "for its version on an allowed HTTPS host, and carries a valid SHA-512 digest and size." ;;
  1) echo "meaning: the feed is refused (or the installer failed at start-up):" \
          "the install would stop here." ;;
  124) echo "meaning: the installer did not finish within 300 s (a start-up message box?)." ;;
  *) echo "meaning: unexpected; the installer or Wine failed." ;;
esac
echo
echo "Only the feed check works today. The full install (download, signature check," \
     "running the setup, starting an installed copy, the installer window) arrives with later work."
exit "$code"
