#!/usr/bin/env bash
# Time from process start to the first completed WM_PAINT of the installer window, with a
# warm wineserver, and the CPU that the window costs while the clip plays.
# Usage (inside an X display): WINEPREFIX=... bench/first_paint.sh TavroInstaller.exe [runs]
# The start is the process's first loader trace line; the end is the return of its first
# EndPaint (Wine's relay trace, limited to two calls). CPU: per-thread jiffies over 20 s.
set -euo pipefail
exe=$1 runs=${2:-7}
export WINEDEBUG=-all
wine reg add 'HKCU\Software\Wine\Debug' /v RelayInclude /d 'user32.EndPaint;gdiplus.GdiplusStartup' /f >/dev/null 2>&1
wineserver -p 2>/dev/null || true  # stays up between the runs
wine cmd /c exit  # warm: server, explorer and the DLLs in the page cache
trace=$(mktemp)
for _ in $(seq "$runs"); do
  WINEDEBUG=+pid,+timestamp,+relay wine "$exe" --ui-preview 2>"$trace" >/dev/null &
  for _ in $(seq 100); do grep -q 'Ret  user32.EndPaint' "$trace" && grep -q GdiplusStartup "$trace" && break; sleep 0.1; done
  sleep 0.5
  kill $! 2>/dev/null || true
  # Explorer's desktop window may start beside it, with the same trace: only the process
  # that starts GDI+ counts.
  awk '/^[0-9.]+:/ { split($1, a, ":"); if (!(a[2] in t0)) t0[a[2]] = a[1] }
       /Call gdiplus.GdiplusStartup/ { ours = a[2] }
       /Ret  user32.EndPaint/ && a[2] == ours { printf "%.0f\n", (a[1] - t0[ours]) * 1000; exit }' "$trace"
  sleep 2  # the killed process's window goes away
done | sort -n >"$trace.times"
echo "first paint, ms from the process start: $(tr '\n' ' ' <"$trace.times")"
echo "median $(awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }' "$trace.times") ms"
rm -f "$trace.times"
wine reg delete 'HKCU\Software\Wine\Debug' /v RelayInclude /f >/dev/null 2>&1

wine "$exe" --ui-preview &
sleep 8  # past Media Foundation's start; the clip plays
pid=$(pgrep -n -f 'TavroInstaller.*--ui-preview' || true)
# Per thread: "tid ticks name" (the last field of stat before the times may hold spaces).
ticks() { for t in /proc/"$pid"/task/*; do echo "${t##*/} $(sed 's/.*) //' "$t/stat" | awk '{ print $12 + $13 }') $(tr ' ' _ <"$t/comm")"; done | sort; }
ticks >"$trace.before"
sleep 20
ticks >"$trace.after"
hz=$(getconf CLK_TCK)
echo "CPU over 20 s of playback, % of one core, busiest threads first (the first thread paints):"
join "$trace.before" "$trace.after" | awk -v hz="$hz" '{ printf "%5.1f %s %s\n", ($4 - $2) * 100 / (20 * hz), $1, $5 }' |
  sort -rn | head -6
awk -v hz="$hz" 'NR == FNR { b += $2; next } { a += $2 } END { printf "%5.1f whole process\n", (a - b) * 100 / (20 * hz) }' \
  "$trace.before" "$trace.after"
rm -f "$trace" "$trace.before" "$trace.after"
kill "$pid"
wineserver -k
