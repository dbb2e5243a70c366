#!/usr/bin/env bash
# End to end, in a Wine prefix of its own: the installed check and the start-up hand-over
# to an installed copy, with the signed demo product installed by its real setup.
#   - a fresh prefix has no installed copy: --verify-installed exits 1;
#   - after the demo setup 1.0.0 it exits 0;
#   - with the installed Tavro.exe swapped for another publisher's build it exits 1, and
#     the journal gains nothing (a candidate that fails the signature leaves no event);
#   - with the genuine file back, a plain start hands over: Tavro.exe gets the session
#     switch, the installer shows nothing and exits 0, and the journal ends with
#     installed_app_detected_at_startup and app_launch_confirmed (app_launch_unconfirmed
#     for an application that exits at once);
#   - --ui-preview opens the window without looking for the installed copy;
#   - with a file where the receipts folder belongs no request can be left: the copy is
#     still started, without the session switch, and nothing is shown;
#   - when the hand-over fails at start (an installed file that Windows will not start; the
#     shell's error box is dismissed), the journal gains installed_app_detected_at_startup and
#     installed_app_startup_launch_failed, and the window opens and starts an install run;
#     closing it ends the program with 0.
# Usage: installed_copy_test.sh <TavroInstaller.exe> <demo output dir> <dismiss_box.exe> <prefix>
# The prefix is deleted and made afresh; a folder that this script did not create is
# refused. Needs an X display (run under xvfb-run -a).
set -uo pipefail
installer=$1 demo=$2 dismiss=$3 prefix=$4
here=$(cd "$(dirname "$0")" && pwd)
run="$here/../../cmake/wine-run.sh"
marker="$prefix/.tavro-installed-copy-test"
export WINEPREFIX=$prefix WINEDEBUG=${WINEDEBUG:--all}
# Without Media Foundation, as on Windows N editions: see e2e_test.py.
export WINEDLLOVERRIDES="mscoree,mshtml=;mfplat,mfreadwrite=d"
failures=0 passed=0
t0=$(date +%s.%N)

check() {  # check <name> <expected> <actual>
  if [ "$2" = "$3" ]; then
    passed=$((passed + 1))
  else
    failures=$((failures + 1))
    printf 'FAIL: %s\n  expected: %s\n  actual:   %s\n' "$1" "$2" "$3"
  fi
}
fail() { failures=$((failures + 1)); echo "FAIL: $*"; }
elapsed() { awk -v a="$1" -v b="$(date +%s.%N)" 'BEGIN { printf "%.1f", b - a }'; }
note() { echo "[$(elapsed "$t0") s] $*"; }

for f in "$installer" "$dismiss" "$demo/1.0.0/Tavro.exe" "$demo/1.0.0/Tavro-Setup-1.0.0.exe" \
         "$demo/fixtures/other-publisher/Tavro.exe"; do
  [ -f "$f" ] || { echo "missing input: $f"; exit 1; }
done
if [ -z "${DISPLAY:-}" ]; then
  echo "FAIL: the started application and any box need an X display (run under xvfb-run -a)"
  exit 1
fi
case $prefix in
  /?*) ;;
  *) echo "the prefix must be an absolute path: '$prefix'"; exit 1 ;;
esac
if [ -e "$prefix" ] && [ ! -f "$marker" ]; then
  echo "refusing to reset $prefix: it was not made by this test"
  exit 1
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/e2e-installed.XXXXXX")
cleanup() {
  wineserver -k 2>/dev/null
  wineserver -w 2>/dev/null
  rm -rf "$work"
  [ -n "${TAVRO_KEEP_PREFIX:-}" ] || rm -rf "$prefix" "$prefix.lock"
}
trap cleanup EXIT

# A fresh prefix every run: what an earlier run installed must not be found.
wineserver -k 2>/dev/null
rm -rf "$prefix" "$prefix.lock"
mkdir -p "$prefix"
touch "$marker"
"$run" cmd /c exit 0 >/dev/null 2>&1 || { echo "cannot create the prefix $prefix"; exit 1; }
note "prefix ready"

local_app_data=$(winepath -u "$("$run" cmd /c echo %LOCALAPPDATA% 2>/dev/null | tr -d '\r')" 2>/dev/null)
local_app_data=${local_app_data%/}
if [ -z "$local_app_data" ] || [ ! -d "$local_app_data" ]; then
  echo "cannot find LocalAppData in $prefix (got '$local_app_data')"
  exit 1
fi
journal="$local_app_data/TavroInstaller/events.jsonl"
receipts="$local_app_data/TavroInstaller/receipts"
installed="$local_app_data/Programs/Tavro/Tavro.exe"

# The journal's event names, one a line; every line must be a complete CR LF event line.
events() {
  [ -f "$journal" ] || return 0
  python3 - "$journal" <<'PY'
import json, re, sys
data = open(sys.argv[1], 'rb').read()
if not data:
    sys.exit(0)
if data and not data.endswith(b'\r\n'):
    print('<unterminated journal>')
for line in data.split(b'\r\n')[:-1] if data.endswith(b'\r\n') else data.split(b'\r\n'):
    if not re.fullmatch(rb'\{"event":"[a-z_]+","platform":"windows","timestamp":[1-9][0-9]*(,"httpStatus":[1-9][0-9]{2})?\}', line):
        print('<malformed: %r>' % line[:200])
    else:
        print(json.loads(line)['event'])
PY
}
events_joined() { events | paste -sd ' ' -; }

# Runs the installer with a time limit; a box or a window would block it. Prints the exit
# code, or "blocked" after dismissing whatever box held it.
run_installer() {  # run_installer <seconds> [arguments...]
  local limit=$1
  shift
  "$run" "$installer" "$@" >/dev/null 2>&1 &
  local pid=$! code=blocked
  for _ in $(seq 1 $((limit * 10))); do
    if ! kill -0 "$pid" 2>/dev/null; then wait "$pid"; code=$?; break; fi
    sleep 0.1
  done
  if [ "$code" = blocked ]; then
    local box
    box=$(timeout 30 "$run" "$dismiss" 5 2>/dev/null | tr -d '\r' | paste -sd ' ' -)
    echo "installer $* did not return within ${limit} s; box: ${box:-none}" >&2
    kill "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
  fi
  echo "$code"
}

# The Tavro.exe starts that the application's log records, one line each: the arguments
# after the program, then "|" and the program path.
app_starts() {  # app_starts <log>
  [ -f "$1" ] || return 0
  python3 - "$1" <<'PY'
import json, sys
for line in open(sys.argv[1], encoding='utf-8'):
    entry = json.loads(line)
    if entry.get('event') == 'start':
        print(' '.join(entry['argv'][1:]) + '|' + entry['argv'][0])
PY
}

# Waits until the log records as many exits as starts (the application closed itself).
wait_for_app_exit() {  # wait_for_app_exit <log> <seconds>
  for _ in $(seq 1 $(($2 * 10))); do
    if [ -f "$1" ] && [ "$(grep -c '"event":"start"' "$1")" = "$(grep -c '"event":"exit"' "$1")" ]; then return 0; fi
    sleep 0.1
  done
  return 1
}

session_pattern='^--tavro-installer-session=[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}\|'

# 1. Nothing installed yet.
start=$(date +%s.%N)
check "fresh prefix: --verify-installed exit code" 1 "$(run_installer 120 --verify-installed)"
check "fresh prefix: journal" "" "$(events_joined)"
note "--verify-installed without a copy: $(elapsed "$start") s"

# 2. The signed demo setup installs 1.0.0 for this user.
start=$(date +%s.%N)
timeout 300 "$run" "$demo/1.0.0/Tavro-Setup-1.0.0.exe" >/dev/null 2>&1
check "demo setup exit code" 0 "$?"
check "installed Tavro.exe is the signed 1.0.0" "$(sha256sum <"$demo/1.0.0/Tavro.exe")" \
  "$(sha256sum <"$installed" 2>/dev/null)"
note "demo setup: $(elapsed "$start") s"

start=$(date +%s.%N)
check "installed: --verify-installed exit code" 0 "$(run_installer 120 --verify-installed)"
check "installed: journal" "" "$(events_joined)"
note "--verify-installed with the copy: $(elapsed "$start") s"

# 3. Another publisher's build in place of the installed file: every candidate of the
#    record names it, each fails the signature check, and that leaves no event.
cp "$demo/fixtures/other-publisher/Tavro.exe" "$installed"
start=$(date +%s.%N)
check "other publisher: --verify-installed exit code" 1 "$(run_installer 120 --verify-installed)"
check "other publisher: journal" "" "$(events_joined)"
note "--verify-installed with another publisher's file: $(elapsed "$start") s"

# 4. The genuine file back: a plain start hands over to it and shows nothing.
cp "$demo/1.0.0/Tavro.exe" "$installed"
for mode in normal exit-at-once; do
  log="$work/app-$mode.jsonl"
  before=$(events_joined)
  start=$(date +%s.%N)
  code=$(TAVRO_DEMO_APP_MODE=$mode TAVRO_DEMO_APP_LIFETIME_MS=3000 TAVRO_DEMO_APP_LOG="Z:$log" run_installer 60)
  took=$(elapsed "$start")
  check "hand-over [$mode]: installer exit code" 0 "$code"
  wait_for_app_exit "$log" 20 || fail "hand-over [$mode]: Tavro.exe did not close itself within 20 s"
  starts=$(app_starts "$log")
  check "hand-over [$mode]: Tavro.exe starts" 1 "$(grep -c . <<<"$starts")"
  if ! grep -Eq "$session_pattern" <<<"$starts"; then
    fail "hand-over [$mode]: Tavro.exe was not given exactly the session switch: $starts"
  fi
  started_from=${starts#*|}
  check "hand-over [$mode]: started from the installed copy" \
    "$(winepath -w "$installed" 2>/dev/null | tr -d '\r' | tr '[:upper:]' '[:lower:]')" \
    "$(tr '[:upper:]' '[:lower:]' <<<"$started_from")"
  if [ "$mode" = normal ]; then outcome=app_launch_confirmed; else outcome=app_launch_unconfirmed; fi
  check "hand-over [$mode]: journal" "${before:+$before }installed_app_detected_at_startup $outcome" "$(events_joined)"
  check "hand-over [$mode]: receipts folder empty" "" "$(ls -A "$receipts" 2>/dev/null)"
  note "hand-over [$mode]: installer returned after $took s"
done

# The installer's window: its X window id once it shows, empty after the time limit.
window_of() {  # window_of <seconds>
  for _ in $(seq 1 $(($1 * 5))); do
    local id
    id=$(xdotool search --onlyvisible --name '^Tavro Installer$' 2>/dev/null | head -n 1)
    if [ -n "$id" ]; then echo "$id"; return 0; fi
    sleep 0.2
  done
}

# Closes the window as a person would (Alt+F4), once more if the first close only paused a
# run, and sets closed_code to the installer's exit code. Not for a subshell: it waits
# for the installer, a child of this shell.
close_window() {  # close_window <window> <pid>
  closed_code=open
  for _ in 1 2 3; do
    xdotool key --window "$1" alt+F4 2>/dev/null
    for _ in $(seq 1 50); do
      if ! kill -0 "$2" 2>/dev/null; then wait "$2"; closed_code=$?; return; fi
      sleep 0.2
    done
  done
  kill "$2" 2>/dev/null
  wait "$2" 2>/dev/null
}

# 5. The window paths at start.
log="$work/app-window.jsonl"
before=$(events_joined)
TAVRO_DEMO_APP_LOG="Z:$log" "$run" "$installer" --ui-preview >/dev/null 2>&1 &
pid=$!
window=$(window_of 60)
check "preview: the window opens" yes "${window:+yes}"
check "preview: the installed copy is not looked for" "$before" "$(events_joined)"
close_window "$window" "$pid"
check "preview: exit code after closing" 0 "$closed_code"
check "preview: Tavro.exe not started" "" "$(app_starts "$log")"

mkdir -p "$(dirname "$receipts")"
rm -rf "$receipts"
echo "in the way" >"$receipts"
# The events after those of the earlier steps.
count_before=$(events | grep -c .)
new_events() { events | tail -n +"$((count_before + 1))" | paste -sd ' ' -; }
log="$work/app-plain.jsonl"
check "no receipts folder: installer exit code" 0 \
  "$(TAVRO_DEMO_APP_LIFETIME_MS=3000 TAVRO_DEMO_APP_LOG="Z:$log" run_installer 60)"
wait_for_app_exit "$log" 20 || fail "no receipts folder: Tavro.exe did not close itself within 20 s"
starts=$(app_starts "$log")
check "no receipts folder: Tavro.exe started once, without the session switch" "1 1" \
  "$(grep -c . <<<"$starts") $(grep -c '^|' <<<"$starts")"
check "no receipts folder: journal" "installed_app_detected_at_startup app_launch_confirmed" "$(new_events)"
check "no receipts folder: the file left as it was" "in the way" "$(cat "$receipts")"
rm -f "$receipts"

cp "$installed" "$work/Tavro.exe.kept"
cp "$demo/fixtures/not-startable/Tavro-Setup-1.0.0.exe" "$installed"
count_before=$(events | grep -c .)
"$run" "$installer" >/dev/null 2>&1 &
pid=$!
# The shell's own error box for a program that cannot start: any window of the installer
# but its own, answered with Enter.
for _ in $(seq 1 150); do
  window=$(xdotool search --onlyvisible --name '^Tavro Installer$' 2>/dev/null | head -n 1)
  [ -n "$window" ] && break
  for box in $(xdotool search --onlyvisible --classname 'tavroinstaller' 2>/dev/null); do
    [ "$(xdotool getwindowname "$box" 2>/dev/null)" = "Tavro Installer" ] || xdotool key --window "$box" Return
  done
  sleep 0.2
done
check "failed hand-over: the window opens" yes "${window:+yes}"
# Until the window's first run has begun.
for _ in $(seq 1 100); do
  [[ " $(new_events) " == *" installer_opened "* ]] && break
  sleep 0.2
done
# What the run does next depends on whether a channel is being served meanwhile.
check "failed hand-over: journal" \
  "installed_app_detected_at_startup installed_app_startup_launch_failed installer_opened" \
  "$(new_events | cut -d ' ' -f 1-3)"
close_window "$window" "$pid"
check "failed hand-over: exit code after closing" 0 "$closed_code"
cp "$work/Tavro.exe.kept" "$installed"
note "window paths at start done"

echo "$passed passed, $failures failed ($(elapsed "$t0") s)"
[ "$failures" -eq 0 ]
