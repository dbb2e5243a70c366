#!/usr/bin/env bash
# Builds the Windows installer and the demo product, then under Wine: runs the
# feed check on the demo channel's feed (or on the feed file given as the first
# argument), and, in a Wine prefix of its own, installs the signed demo product
# with its setup and starts the installer, which finds the installed copy and
# hands over to it. The installer's own download-and-install run arrives with
# the installer window.
#
#   scripts/demo.sh [FEED]
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$repo"
feed=${1:-$repo/build/windows/demo/1.0.0/channel/desktop/win/latest.yml}

scripts/deps.sh

echo
echo "==== windows: configure and build the installer"
cmake --preset windows
cmake --build --preset windows --target TavroInstaller tavro_demo

prefix="$repo/build/windows/wineprefix"
# shellcheck disable=SC2317  # called through the trap
stop_wine() { WINEPREFIX="$prefix" wineserver -k 2>/dev/null || true; }
trap stop_wine EXIT

# Wine maps the Linux root to drive Z:, so any absolute path has a Windows name.

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

feed=$(realpath -e "$feed")
feed_windows="Z:${feed//\//\\}"
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
echo "==== installed copy: a fresh Wine prefix, the signed demo setup, then the installer"
demo_prefix="$repo/build/windows/wineprefix-demo-run"
WINEPREFIX="$demo_prefix" wineserver -k 2>/dev/null || true
rm -rf "$demo_prefix" "$demo_prefix.lock"
display=(timeout 300)
[ -n "${DISPLAY:-}" ] || display=(timeout 300 xvfb-run -a)
# shellcheck disable=SC2016  # expanded by the inner bash
"${display[@]}" env WINEPREFIX="$demo_prefix" WINEDEBUG=-all TAVRO_DEMO_APP_LIFETIME_MS=4000 \
  bash -c '
    run=cmake/wine-run.sh
    "$run" build/windows/bin/TavroInstaller.exe --verify-installed
    echo "--verify-installed before the setup: exit code $? (1: no installed copy)"
    "$run" build/windows/demo/1.0.0/Tavro-Setup-1.0.0.exe
    echo "demo setup Tavro-Setup-1.0.0.exe: exit code $?"
    "$run" build/windows/bin/TavroInstaller.exe --verify-installed
    echo "--verify-installed after the setup: exit code $? (0: a signed copy is installed)"
    "$run" build/windows/bin/TavroInstaller.exe
    echo "TavroInstaller.exe: exit code $? (it started the installed Tavro.exe, which closes after 4 s)"
    sleep 5
    journal=$(winepath -u "$("$run" cmd /c echo %LOCALAPPDATA% | tr -d "\r")")/TavroInstaller/events.jsonl
    echo "---- the installer journal ($journal):"
    cat "$journal"
    wineserver -k 2>/dev/null'
echo "----"
rm -rf "$demo_prefix" "$demo_prefix.lock"
echo
echo "The installer window and its download-and-install run arrive with later work; until then an" \
     "ordinary start without an installed copy ends in the start-up error box."
exit "$code"
