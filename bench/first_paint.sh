#!/usr/bin/env bash
# Time from process start to the first completed WM_PAINT of the installer window, with a
# warm wineserver, and the CPU that the window costs while the clip plays.
# Usage (inside an X display): WINEPREFIX=... bench/first_paint.sh TavroInstaller.exe [runs]
# The start is the process's first loader trace line; the end is the return of its first
# EndPaint (Wine's relay trace, limited to that call). CPU: per-thread jiffies over 20 s.
set -euo pipefail
exe=$1 runs=${2:-7}
export WINEDEBUG=-all
wine reg add 'HKCU\Software\Wine\Debug' /v RelayInclude /d 'user32.EndPaint' /f >/dev/null 2>&1
wineserver -p 2>/dev/null || true  # stays up between the runs
wine cmd /c exit  # warm: server, explorer and the DLLs in the page cache
trace=$(mktemp)
for _ in $(seq "$runs"); do
  WINEDEBUG=+timestamp,+relay wine "$exe" --ui-preview 2>"$trace" >/dev/null &
  for _ in $(seq 100); do grep -q 'Ret  user32.EndPaint' "$trace" && break; sleep 0.1; done
  kill $! 2>/dev/null || true
  awk '/^[0-9.]+:/ { split($1, a, ":"); if (!t0) t0 = a[1] }
       /Ret  user32.EndPaint/ { printf "%.0f\n", (a[1] - t0) * 1000; exit }' "$trace"
  sleep 2  # the killed process's window goes away
done | sort -n | awk '{ v[NR] = $1; printf "%s ms ", $1 } END { printf "\nmedian %s ms\n", v[int((NR + 1) / 2)] }'
rm -f "$trace"
wine reg delete 'HKCU\Software\Wine\Debug' /v RelayInclude /f >/dev/null 2>&1

wine "$exe" --ui-preview &
sleep 8  # past Media Foundation's start; the clip plays
pid=$(pgrep -n -f 'TavroInstaller.*--ui-preview' || true)
ticks() { for t in /proc/"$pid"/task/*; do awk '{ print $14 + $15 }' "$t/stat"; done; }
before=$(ticks | sort -n | tr '\n' ' ')
total_before=$(awk '{ print $14 + $15 }' /proc/"$pid"/stat)
sleep 20
total_after=$(awk '{ print $14 + $15 }' /proc/"$pid"/stat)
after=$(ticks | sort -n | tr '\n' ' ')
hz=$(getconf CLK_TCK)
echo "process CPU over 20 s: $(( (total_after - total_before) * 100 / (20 * hz) )) % of one core"
echo "thread CPU ticks before: $before"
echo "thread CPU ticks after:  $after"
kill "$pid"
wineserver -k
