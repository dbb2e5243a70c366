#!/usr/bin/env bash
# Builds the Windows installer and the demo product, serves the demo release channel
# over HTTPS on 127.0.0.1:443 (the test root trusted for the run only), and in a fresh
# Wine prefix starts TavroInstaller.exe as a user would: its window checks, downloads
# (served slowly enough to watch the bar move), verifies, runs the signed demo setup
# and closes. A second start hands over to the installed Tavro without a window. The
# window shows on $DISPLAY when there is one, else on a virtual display. Prints the
# exit codes, the journal and the screenshots of each stage.
#
#   scripts/demo.sh                       the install, as above (needs root: port 443)
#   scripts/demo.sh --feed-check [FEED]   only the feed check, of the demo feed or FEED
#
# TAVRO_DEMO_BUILD names another build tree than build/windows.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$repo"
build=${TAVRO_DEMO_BUILD:-build/windows}
build=$(mkdir -p "$build" && cd "$build" && pwd)

if [ -z "${TAVRO_DEMO_DEPS_DONE:-}" ]; then
  scripts/deps.sh
  echo
  echo "==== windows: configure and build the installer and the demo product"
  cmake --preset windows -B "$build" >/dev/null
  cmake --build "$build" --target TavroInstaller tavro_demo_1_0_0
  export TAVRO_DEMO_DEPS_DONE=1
fi
exe=$build/bin/TavroInstaller.exe

if [ "${1:-}" = --feed-check ]; then
  feed=$(realpath -e "${2:-$build/demo/1.0.0/channel/desktop/win/latest.yml}")
  echo "==== feed check: TavroInstaller.exe --verify-feed $feed"
  cat "$feed"
  set +e
  # A start-up failure shows a message box: without a display, a virtual one and a time limit.
  # Wine is stopped before a virtual display goes away, or its processes complain.
  export WINEPREFIX=$build/wineprefix TAVRO_BUILD_DIR=$build
  # shellcheck disable=SC2016  # expanded by the inner bash
  check=(bash -c 'cmake/wine-run.sh "$@"; code=$?; wineserver -k 2>/dev/null; exit $code' _ "$exe" --verify-feed "Z:${feed//\//\\}")
  if [ -n "${DISPLAY:-}" ]; then timeout 300 "${check[@]}"; else timeout 300 xvfb-run -a "${check[@]}"; fi
  code=$?
  echo "exit code: $code (0: accepted; 1: refused, the install would stop here)"
  exit "$code"
fi

# The window needs a display: the user's, or a virtual one for the rest of this script.
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$@"
fi

# Port 443 and the trust store are one per machine.
exec 9>/tmp/tavro-port443.lock
flock 9

prefix=$build/wineprefix-demo-run
state=$build/demo-channel/state
root=$build/demo-channel/root
shots=$build/demo-shots
export WINEPREFIX=$prefix WINEDEBUG=-all TAVRO_BUILD_DIR=$build
# shellcheck source=scripts/wine-env.sh
. scripts/wine-env.sh
# The demo app closes itself after 5 s; the setup waits 3 s so that its stage can be seen.
export TAVRO_DEMO_APP_LIFETIME_MS=5000 TAVRO_DEMO_SETUP_DELAY_MS=3000

# shellcheck disable=SC2317  # called through the trap
cleanup() {
  WINEPREFIX="$prefix" wineserver -k 2>/dev/null || true
  bash tests/channel/channel.sh stop "$state" >/dev/null 2>&1 || true  # by its pid file; untrusts the root
}
trap cleanup EXIT

WINEPREFIX="$prefix" wineserver -k 2>/dev/null || true
rm -rf "$prefix" "$prefix.lock" "$root" "$state" "$shots"
mkdir -p "$root/desktop/win" "$state" "$shots"
cp "$build"/demo/1.0.0/channel/desktop/win/* "$root/desktop/win/"
size=$(stat -c %s "$root"/desktop/win/Tavro-Setup-*.exe)
# The feed after a short pause, so "checking" can be seen; the package in 40 slow pieces.
chunk=$(( size / 40 + 1 ))
printf '[{"action":"serve","header_delay_ms":1500},{"action":"serve","chunk_size":%d,"delay_ms":250}]' "$chunk" \
  >"$state/script.json"
echo
echo "==== the demo channel on https://localhost/desktop/win/latest.yml"
bash tests/channel/channel.sh start "$state" "$root"

echo
echo "==== a fresh Wine prefix: $prefix"
start=$(date +%s)
cmake/wine-run.sh cmd /c exit >/dev/null 2>&1
# Wine has no "Segoe UI": the page falls back to Tahoma, which the prefix needs.
cp /usr/share/wine/fonts/tahoma*.ttf "$prefix/drive_c/windows/Fonts/"
journal() { cat "$prefix"/drive_c/users/*/AppData/Local/TavroInstaller/events.jsonl 2>/dev/null || true; }
shoot() {
  if import -window "$1" "$shots/$2.png" 2>/dev/null; then echo "  $2: $shots/$2.png"; else echo "  $2: no screenshot"; fi
}

echo
echo "==== first start: TavroInstaller.exe (window on $DISPLAY)"
set +e
wine "$exe" &
installer=$!
win=
for _ in $(seq 150); do
  win=$(xdotool search --onlyvisible --name '^Tavro Installer$' 2>/dev/null | head -1) && [ -n "$win" ] && break
  sleep 0.2
done
[ -n "$win" ] || { echo "the window did not appear"; exit 1; }
sleep 0.5
shoot "$win" 1-checking
stage=downloading
while kill -0 "$installer" 2>/dev/null; do
  events=$(journal)
  case $stage in
    downloading)
      if [[ $events == *payload_started* ]]; then sleep 3; shoot "$win" 2-downloading; stage=verifying; fi ;;
    verifying)
      # The moment the last byte is in the cache, before the setup starts.
      done_size=$(stat -c %s "$prefix"/drive_c/users/*/AppData/Local/TavroInstaller/*.exe 2>/dev/null | head -1)
      if [ "${done_size:-0}" = "$size" ] || [[ $events == *payload_verified* ]]; then
        shoot "$win" 3-verifying; stage=installing
      fi ;;
    installing)
      if [[ $events == *install_started* ]]; then sleep 1; shoot "$win" 4-installing; stage=finished; fi ;;
  esac
  sleep 0.1
done
wait "$installer"
first=$?
echo "exit code: $first (0: installed; the window closed by itself, Tavro not started)"
echo "uninstall record:"
wine reg query 'HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Tavro' 2>/dev/null | tr -d '\r' | grep -E 'Display|Install'

echo
echo "==== second start: TavroInstaller.exe hands over to the installed Tavro"
wine "$exe" &
installer=$!
seen=
while kill -0 "$installer" 2>/dev/null; do
  seen=$seen$(xdotool search --onlyvisible --name '^Tavro Installer$' 2>/dev/null)
  sleep 0.2
done
wait "$installer"
second=$?
echo "exit code: $second ($([ -z "$seen" ] && echo "no installer window" || echo "an installer window appeared"))"
sleep "$(( TAVRO_DEMO_APP_LIFETIME_MS / 1000 + 1 ))"

echo
echo "==== the installer journal:"
journal
echo "==== screenshots of the stages: $shots"
echo "took $(( $(date +%s) - start )) s from the fresh prefix"
[ "$first" = 0 ] && [ "$second" = 0 ] && [ -z "$seen" ]
