#!/usr/bin/env bash
# What the installer's window costs, for one or more builds side by side in one run: the
# time to its first painted page, and the CPU of its own process while the clip plays (96,
# 144 and 192 DPI), during the progress sweep alone, and with the slides only (no Media
# Foundation), with the UI thread's share and its time per paint.
#
# Usage, inside an X display and `isolated` (the sweep's stalled channel binds port 443):
#   isolated xvfb-run -a -s '-screen 0 1920x1200x24' bench/first_paint.sh [-n RUNS] [-t SECONDS] EXE...
# The prefix is $WINEPREFIX, by default build/windows/wineprefix-bench (made on first use).
# The builds take turns, run by run and case by case, so that a change in the machine's
# load falls on all of them alike.
#
# First paint: from the first trace line of the process that starts GDI+ to the return of
# its first EndPaint (Wine's relay trace, limited to those two calls). Each run waits for
# the previous instance to end, so that no other process's paint is taken for ours.
# CPU: the kernel's run time of every thread of the installer's process (found by its
# process id, never by name) over SECONDS, once the clip plays, without any trace (the relay
# trace alone costs a few % of a core); the UI thread is the process's first thread. Paints
# a second: its EndPaint calls over 10 s of a second, traced run of the same case.
set -euo pipefail
runs=7 seconds=15
while getopts n:t: option; do
  case $option in n) runs=$OPTARG ;; t) seconds=$OPTARG ;; *) exit 2 ;; esac
done
shift $((OPTIND - 1))
[ $# -ge 1 ] || { sed -n '2,10p' "$0"; exit 2; }
here=$(cd "$(dirname "$0")/.." && pwd)
export WINEPREFIX=${WINEPREFIX:-$here/build/windows/wineprefix-bench}
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
work=$(mktemp -d)
trace=$work/trace
desktop='HKCU\Control Panel\Desktop'
debug='HKCU\Software\Wine\Debug'

if [ ! -d "$WINEPREFIX" ]; then
  wine wineboot -i >/dev/null 2>&1
  wine winecfg -v win10 >/dev/null 2>&1
  wineserver -w
fi
# GDI+'s generic sans-serif is Tahoma: without it the page has no text to draw.
cp /usr/share/wine/fonts/{tahoma,tahomabd,marlett}.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
wine reg add "$debug" /v RelayInclude /d 'user32.EndPaint;gdiplus.GdiplusStartup' /f >/dev/null 2>&1
mask=$(wine reg query "$desktop" /v UserPreferencesMask 2>/dev/null | tr -d '\r' |
  awk '$1 == "UserPreferencesMask" { print $3 }')

# A channel that accepts connections and never answers: the install run stays at its first
# status, with the sweep, until WinHTTP's 30-second receive timeout.
python3 - <<'EOF' &
import socket, time
held = []
for family, host in ((socket.AF_INET, "127.0.0.1"), (socket.AF_INET6, "::1")):
    try:
        s = socket.socket(family)
        s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        s.bind((host, 443))
        s.listen(64)
        held.append(s)
    except OSError:
        pass
time.sleep(3600)
EOF
stalled=$!

cleanup() {
  kill "$stalled" 2>/dev/null || true
  wine reg delete "$debug" /v RelayInclude /f >/dev/null 2>&1 || true
  wine reg add "$desktop" /v LogPixels /t REG_DWORD /d 96 /f >/dev/null 2>&1 || true
  motion || true
  wineserver -k 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
wine cmd /c exit  # a warm server, explorer and the DLLs in the page cache

# The Windows process id of the installer in a relay trace: the one that starts GDI+.
ours() { awk -F: '/Call gdiplus.GdiplusStartup/ { print $2; exit }' "$1"; }
paints() {
  local p; p=$(ours "$1")
  if [ -n "$p" ]; then grep -c "^[0-9.]*:$p:[0-9a-f]*:Ret  user32.EndPaint" "$1" || true; else echo 0; fi
}

# Starts EXE with ARGS, under the relay trace in $trace when $traced is set; sets $pid.
start() {
  if [ -n "${traced:-}" ]; then
    WINEDEBUG=+pid,+timestamp,+relay wine "$@" 2>"$trace" >/dev/null &
  else
    wine "$@" >/dev/null 2>&1 &
  fi
  pid=$!
}
# Ends the instance and waits until its process is gone.
stop() {
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  sleep 2  # its window is destroyed after the process
}

# One run of EXE to its first paint: the milliseconds, or nothing.
first_paint() {
  traced=1 start "$1" --ui-preview
  for _ in $(seq 150); do [ "$(paints "$trace")" -ge 1 ] && break; sleep 0.1; done
  local p; p=$(ours "$trace")
  awk -F: -v p="$p" '$2 == p && !seen { t0 = $1; seen = 1 }
    $2 == p && /Ret  user32.EndPaint/ { printf "%.0f\n", ($1 - t0) * 1000; exit }' "$trace"
  stop
}

# Run time in ns of each thread: "tid ns".
threads() { for t in /proc/"$pid"/task/*; do echo "${t##*/} $(cut -d' ' -f1 "$t/schedstat" 2>/dev/null || echo 0)"; done | sort; }

# One case, after SETTLE seconds: "process% ui% paints/s ms-a-paint".
cost() {
  local settle=$1; shift
  traced='' start "$@"
  sleep "$settle"
  threads >"$work/t0"
  sleep "$seconds"
  threads >"$work/t1"
  local main=$pid
  stop
  local shares
  shares=$(join -a 2 -e 0 -o 0,1.2,2.2 "$work/t0" "$work/t1" | awk -v main="$main" -v s="$seconds" '
    { d = $3 - $2; whole += d; if ($1 == main) ui = d } END { printf "%.1f %.1f", whole / s / 1e7, ui / s / 1e7 }')
  traced=1 start "$@"
  sleep "$settle"
  local p0; p0=$(paints "$trace")
  sleep 10
  local p1; p1=$(paints "$trace")
  stop
  echo "$shares" | awk -v n=$((p1 - p0)) '{ printf "%s %s %.1f %.2f\n", $1, $2, n / 10, n ? $2 * 100 / n : 0 }'
}

# The system DPI is the session's (Windows reads it at sign-in, Wine 10 when its server
# starts): a new value takes a new server, warmed up again.
dpi_now=
set_dpi() {
  [ "$dpi_now" = "$1" ] && return 0
  wine reg add "$desktop" /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null 2>&1
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
  wine cmd /c exit
  dpi_now=$1
}
no_motion() { wine reg add "$desktop" /v UserPreferencesMask /t REG_BINARY /d 9E1E078010000000 /f >/dev/null 2>&1; }
motion() {  # as it was before the run
  if [ -n "$mask" ]; then
    wine reg add "$desktop" /v UserPreferencesMask /t REG_BINARY /d "$mask" /f >/dev/null 2>&1
  else
    wine reg delete "$desktop" /v UserPreferencesMask /f >/dev/null 2>&1 || true
  fi
}

results=$work/results
exes=("$@")
set_dpi 96
for run in $(seq "$runs"); do
  for exe in "${exes[@]}"; do echo "$(basename "$exe") $(first_paint "$exe")" >>"$work/first"; done
done
for exe in "${exes[@]}"; do
  name=$(basename "$exe")
  awk -v n="$name" '$1 == n && NF == 2 { print $2 }' "$work/first" | sort -n |
    awk -v n="$name" '{ v[NR] = $1 } END { print n, "first", NR ? v[int((NR + 1) / 2)] : "none" }' >>"$results"
done
for case in clip-96 clip-144 clip-192 sweep slides; do
  for exe in "${exes[@]}"; do
    name=$(basename "$exe")
    case $case in
      clip-*)  # past Media Foundation's start: the clip plays
        set_dpi "${case#clip-}"
        echo "$name $case $(cost 8 "$exe" --ui-preview)" >>"$results" ;;
      sweep)  # no clip (reduced motion), no percentage (the channel never answers)
        set_dpi 96
        no_motion
        echo "$name $case $(cost 5 "$exe")" >>"$results"
        motion ;;
      slides)
        echo "$name $case $(WINEDLLOVERRIDES="$WINEDLLOVERRIDES;mfplat,mfreadwrite=d" cost 5 "$exe" --ui-preview)" >>"$results" ;;
    esac
    tail -1 "$results" >&2
  done
done

echo "One run, $(date -u +%F), $(nproc) cores ($(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')),"
echo "load average at the end: $(cut -d' ' -f1-3 /proc/loadavg); CPU over $seconds s in % of one core."
echo
printf '%-48s' ""; for exe in "${exes[@]}"; do printf '%28s' "$(basename "$exe")"; done; echo
row() {  # label, configuration, field of its result line (3 process or median, 4 UI, 5 paints/s, 6 ms a paint)
  printf '%-48s' "$1"
  for exe in "${exes[@]}"; do
    printf '%28s' "$(awk -v n="$(basename "$exe")" -v c="$2" -v f="$3" '$1 == n && $2 == c { print $f }' "$results")"
  done
  echo
}
row "first paint, median of $runs runs (ms)" first 3
echo "  (first paints of each run: $(awk '{ printf "%s %s; ", $1, $2 }' "$work/first"))"
for c in clip-96 clip-144 clip-192 sweep slides; do
  case $c in
    clip-*) label="clip playing, ${c#clip-} DPI" ;;
    sweep) label="sweep alone (no motion, no %), 96 DPI" ;;
    slides) label="slides only (no Media Foundation)" ;;
  esac
  row "$label: process %" "$c" 3
  row "  UI thread %" "$c" 4
  row "  paints a second" "$c" 5
  row "  UI thread ms a paint" "$c" 6
done
