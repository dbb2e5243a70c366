#!/usr/bin/env bash
# The demo product under Wine: installs, starts, updates and uninstalls it and
# checks what each step leaves behind (files, uninstall record, launch receipts,
# exit codes), including every harness switch.
#
#   WINEPREFIX=<prefix> check-under-wine.sh DEMO_DIR
#
# DEMO_DIR is the build's demo output folder (build/windows/demo). The prefix is
# created on first use and changed freely: never point this at a prefix that other
# tests share. The application opens a window, so without an X display the script
# runs itself again under xvfb-run.
set -uo pipefail

if [ $# -ne 1 ]; then
  echo "usage: WINEPREFIX=<prefix> check-under-wine.sh DEMO_DIR" >&2
  exit 2
fi
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a bash "$0" "$@"
fi
: "${WINEPREFIX:?set WINEPREFIX to a prefix that only this script uses}"
export WINEPREFIX WINEDEBUG=${WINEDEBUG:--all}

demo=$(realpath -e "$1")
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
pki=${TAVRO_DEMO_PKI:-$here/../tests/pki}
run="$here/../cmake/wine-run.sh"
work=$(mktemp -d "${TMPDIR:-/tmp}/demo-under-wine.XXXXXX")
# shellcheck disable=SC2317  # called through the trap
finish() { wineserver -k 2>/dev/null; rm -rf "$work"; }
trap finish EXIT

failures=0 passed=0
check() {  # check <name> <expected> <actual>
  if [ "$2" = "$3" ]; then
    passed=$((passed + 1))
  else
    failures=$((failures + 1))
    echo "FAIL: $1: expected [$2], got [$3]"
  fi
}
windows_path() { local p=${1//\//\\}; echo "Z:$p"; }

# Creates the prefix (as Windows 10) when it is new; everything below needs it.
"$run" cmd /c exit 0 >/dev/null 2>&1

user=$(whoami)
local_app_data="$WINEPREFIX/drive_c/users/$user/AppData/Local"
folder="$local_app_data/Programs/Tavro"
receipts="$local_app_data/TavroInstaller/receipts"
folder_win="C:\\users\\$user\\AppData\\Local\\Programs\\Tavro"
app_win="$folder_win\\Tavro.exe"
uninstaller_win="$folder_win\\Uninstall Tavro.exe"
key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Tavro'
setup_log="$work/setup.log" app_log="$work/app.log"
export TAVRO_DEMO_SETUP_LOG TAVRO_DEMO_APP_LOG
TAVRO_DEMO_SETUP_LOG=$(windows_path "$setup_log")
TAVRO_DEMO_APP_LOG=$(windows_path "$app_log")
demo_leaf=$(awk '$1 == "demo-publisher.pem" { print $2 }' "$pki/fingerprints.txt")

# Runs a Windows command line through a batch file and prints the process's full
# 32-bit exit code: the Linux exit status of wine keeps only the low 8 bits
# (3010 would read as 194).
exit_code() {  # exit_code <command line as cmd reads it>
  printf '@echo off\r\n%s\r\necho exit=%%errorlevel%%\r\n' "$1" >"$work/run.bat"
  timeout 120 "$run" cmd /c "$(windows_path "$work/run.bat")" 2>/dev/null | tr -d '\r' | sed -n 's/^exit=//p'
}
setup() {  # setup <version> [NAME=value...]: runs the setup with those variables, prints its exit code
  local version=$1
  shift
  (
    if [ $# -gt 0 ]; then export "$@"; fi
    exit_code "\"$(windows_path "$demo/$version/Tavro-Setup-$version.exe")\""
  )
}
registry_value() {  # registry_value <name>: the REG_SZ value, or "-" when absent
  local line
  line=$(timeout 60 "$run" reg query "$key" /v "$1" 2>/dev/null | tr -d '\r' | grep -E "^ +$1 +REG_SZ +" || true)
  if [ -z "$line" ]; then echo -; else sed -E "s/^ +$1 +REG_SZ +//" <<<"$line"; fi
}
record_present() { if timeout 60 "$run" reg query "$key" >/dev/null 2>&1; then echo yes; else echo no; fi; }
same_file() { if cmp -s "$1" "$2"; then echo same; else echo different; fi; }
exists() { if [ -e "$1" ]; then echo yes; else echo no; fi; }
json_member() {  # json_member <file> <member>: the string value, or "-" when there is none
  python3 - "$1" "$2" <<'END'
import json, sys
try:
    with open(sys.argv[1], encoding="utf-8") as f:
        value = json.load(f).get(sys.argv[2], "-")
    print(value if isinstance(value, str) else "-")
except (OSError, ValueError):
    print("-")
END
}
clean_state() {
  timeout 60 "$run" reg delete "$key" /f >/dev/null 2>&1
  rm -rf "$folder" "$receipts"
}
new_id() { python3 -c 'import uuid; print(uuid.uuid4())'; }
write_request() {  # write_request <id> [sessionId in the file] [expiresAt offset in ms]
  mkdir -p "$receipts"
  local now
  now=$(date +%s%3N)
  printf '{"sessionId":"%s","expiresAt":%s}' "${2:-$1}" $((now + ${3:-600000})) >"$receipts/$1.request.json"
}
start_app() {  # start_app <lifetime ms> [arguments...]: env TAVRO_DEMO_APP_MODE as set; prints the exit code
  local lifetime=$1
  shift
  TAVRO_DEMO_APP_LIFETIME_MS=$lifetime timeout 120 "$run" "$app_win" "$@" >/dev/null 2>&1
  echo $?
}

# ---- install 1.0.0
clean_state
rm -f "$setup_log"
check "install 1.0.0: exit code" 0 "$(setup 1.0.0)"
check "install 1.0.0: Tavro.exe is the signed 1.0.0 build" same "$(same_file "$demo/1.0.0/Tavro.exe" "$folder/Tavro.exe")"
check "install 1.0.0: the uninstaller is the setup" same \
  "$(same_file "$demo/1.0.0/Tavro-Setup-1.0.0.exe" "$folder/Uninstall Tavro.exe")"
check "install 1.0.0: nothing else in the folder" "Tavro.exe|Uninstall Tavro.exe" "$(ls "$folder" | paste -sd'|')"
check "install 1.0.0: DisplayName" Tavro "$(registry_value DisplayName)"
check "install 1.0.0: DisplayVersion" 1.0.0 "$(registry_value DisplayVersion)"
check "install 1.0.0: Publisher" "Tavro Demo Publisher" "$(registry_value Publisher)"
check "install 1.0.0: InstallLocation" "$folder_win" "$(registry_value InstallLocation)"
check "install 1.0.0: DisplayIcon" "$app_win,0" "$(registry_value DisplayIcon)"
check "install 1.0.0: UninstallString" "\"$uninstaller_win\" /uninstall" "$(registry_value UninstallString)"
check "install 1.0.0: installed Tavro.exe verifies as the demo publisher's" 0 \
  "$(osslsigncode verify -CAfile "$pki/root-ca.pem" -require-leaf-hash "sha256:$demo_leaf" -in "$folder/Tavro.exe" >/dev/null 2>&1; echo $?)"
check "install 1.0.0: one setup log line" 1 "$(wc -l <"$setup_log")"
check "install 1.0.0: setup log line" '"install" "current" 0' \
  "$(python3 -c 'import json,sys; l=json.loads(open(sys.argv[1]).readline()); print(json.dumps(l["action"]), json.dumps(l["payload"]), l["exitCode"])' "$setup_log")"

# ---- the launch handshake of the installed 1.0.0
receipt_case() {  # receipt_case <mode> <expected sessionId|stage|appVersion, or "none">
  local mode=$1 expected=$2 id
  id=$(new_id)
  write_request "$id"
  local code
  code=$(TAVRO_DEMO_APP_MODE=$mode start_app 300 "--tavro-installer-session=$id")
  check "handshake [$mode]: exit code" 0 "$code"
  local receipt="$receipts/$id.receipt.json"
  if [ "$expected" = none ]; then
    check "handshake [$mode]: no receipt" no "$(exists "$receipt")"
  else
    expected=${expected//@ID@/$id}
    check "handshake [$mode]: receipt" "$expected" \
      "$(json_member "$receipt" sessionId)|$(json_member "$receipt" stage)|$(json_member "$receipt" appVersion)"
    # The installer compares the path ignoring case; the app reports what Windows says.
    check "handshake [$mode]: executable" "${app_win,,}" "$(json_member "$receipt" executable | tr '[:upper:]' '[:lower:]')"
  fi
  check "handshake [$mode]: no temporary file left" "" "$(cd "$receipts" && ls | grep -v -E '\.(request|receipt)\.json$')"
}
rm -f "$app_log"
receipt_case normal "@ID@|main-window-created|1.0.0"
receipt_case wrong-stage "@ID@|starting|1.0.0"
receipt_case wrong-version "@ID@|main-window-created|0.0.1"
receipt_case wrong-id "00000000-0000-0000-0000-000000000000|main-window-created|1.0.0"
receipt_case no-receipt none
check "app log: one start line per start" 5 "$(grep -c '"event":"start"' "$app_log")"
check "app log: one exit line per start" 5 "$(grep -c '"event":"exit","code":0' "$app_log")"
check "app log: the argument reaches the log" 5 "$(grep -c '"--tavro-installer-session=' "$app_log")"

# exit-at-once never opens a window: without a lifetime it would otherwise stay open.
id=$(new_id)
write_request "$id"
rm -f "$app_log"
check "handshake [exit-at-once]: exit code" 0 \
  "$(TAVRO_DEMO_APP_MODE=exit-at-once timeout 60 "$run" "$app_win" "--tavro-installer-session=$id" >/dev/null 2>&1; echo $?)"
check "handshake [exit-at-once]: no receipt" no "$(exists "$receipts/$id.receipt.json")"
check "handshake [exit-at-once]: started once" 1 "$(grep -c '"event":"start"' "$app_log")"

# Requests that do not hold get no receipt, but the window still opens.
request_case() {  # request_case <name> <id> <write request: yes|no> [sessionId in file] [expiry offset]
  local name=$1 id=$2 write=$3
  shift 3
  [ "$write" = yes ] && write_request "$id" "$@"
  check "request [$name]: exit code" 0 "$(start_app 300 "--tavro-installer-session=$id")"
  check "request [$name]: no receipt" no "$(exists "$receipts/$id.receipt.json")"
}
request_case missing "$(new_id)" no
request_case expired "$(new_id)" yes "" -1000
request_case "other session" "$(new_id)" yes "$(new_id)"
request_case "id with a path" "..\\..\\escape" no
check "request [id with a path]: nothing written outside the folder" no "$(exists "$local_app_data/escape.receipt.json")"

rm -f "$app_log"
check "direct start: exit code" 0 "$(start_app 300)"
check "direct start: logged without arguments" 1 "$(python3 -c 'import json,sys; print(len(json.loads(open(sys.argv[1]).readline())["argv"]))' "$app_log")"
check "unknown app mode: exit code" 87 "$(TAVRO_DEMO_APP_MODE=bogus start_app 300)"
check "bad lifetime: exit code" 87 "$(TAVRO_DEMO_APP_LIFETIME_MS=soon timeout 60 "$run" "$app_win" >/dev/null 2>&1; echo $?)"

# ---- setup switches
clean_state
check "setup exit 1602: exit code" 1602 "$(setup 1.0.0 TAVRO_DEMO_SETUP_EXIT=1602)"
check "setup exit 1602: nothing installed" "no|no" "$(exists "$folder")|$(record_present)"
check "setup exit 1: exit code" 1 "$(setup 1.0.0 TAVRO_DEMO_SETUP_EXIT=1)"
check "setup exit 1: nothing installed" "no|no" "$(exists "$folder")|$(record_present)"
check "setup bad exit switch: exit code" 87 "$(setup 1.0.0 TAVRO_DEMO_SETUP_EXIT=abc)"
check "setup bad payload switch: exit code" 87 "$(setup 1.0.0 TAVRO_DEMO_SETUP_PAYLOAD=bogus)"
check "setup bad switches: nothing installed" "no|no" "$(exists "$folder")|$(record_present)"
check "setup exit 3010: exit code" 3010 "$(setup 1.0.0 TAVRO_DEMO_SETUP_EXIT=3010)"
check "setup exit 3010: installed" "same|1.0.0" \
  "$(same_file "$demo/1.0.0/Tavro.exe" "$folder/Tavro.exe")|$(registry_value DisplayVersion)"

check "setup wrong-version: exit code" 0 "$(setup 1.0.0 TAVRO_DEMO_SETUP_PAYLOAD=wrong-version)"
check "setup wrong-version: the lower build is installed" same \
  "$(same_file "$demo/work/0.9.0/Tavro.exe" "$folder/Tavro.exe")"
id=$(new_id)
write_request "$id"
start_app 300 "--tavro-installer-session=$id" >/dev/null
check "setup wrong-version: the installed app reports" 0.9.0 "$(json_member "$receipts/$id.receipt.json" appVersion)"

check "setup other-publisher: exit code" 0 "$(setup 1.0.0 TAVRO_DEMO_SETUP_PAYLOAD=other-publisher)"
check "setup other-publisher: the other publisher's build is installed" same \
  "$(same_file "$demo/work/1.0.0/other-publisher/Tavro.exe" "$folder/Tavro.exe")"
check "setup other-publisher: not the demo publisher's" 1 \
  "$(osslsigncode verify -CAfile "$pki/root-ca.pem" -require-leaf-hash "sha256:$demo_leaf" -in "$folder/Tavro.exe" >/dev/null 2>&1; echo $?)"

# ---- update 1.0.0 to 1.1.0
check "install 1.0.0 again: exit code" 0 "$(setup 1.0.0)"
check "update to 1.1.0: exit code" 0 "$(setup 1.1.0)"
check "update to 1.1.0: files" "same|same" \
  "$(same_file "$demo/1.1.0/Tavro.exe" "$folder/Tavro.exe")|$(same_file "$demo/1.1.0/Tavro-Setup-1.1.0.exe" "$folder/Uninstall Tavro.exe")"
check "update to 1.1.0: DisplayVersion" 1.1.0 "$(registry_value DisplayVersion)"
id=$(new_id)
write_request "$id"
start_app 300 "--tavro-installer-session=$id" >/dev/null
check "update to 1.1.0: the installed app reports" 1.1.0 "$(json_member "$receipts/$id.receipt.json" appVersion)"

# ---- uninstall
check "setup unknown argument: exit code" 87 "$(exit_code "\"$(windows_path "$demo/1.1.0/Tavro-Setup-1.1.0.exe")\" /quiet")"
# A running Tavro.exe cannot be removed: the uninstall fails and keeps the record.
# The receipt tells when the window is up.
id=$(new_id)
write_request "$id"
TAVRO_DEMO_APP_LIFETIME_MS=30000 timeout 120 "$run" "$app_win" "--tavro-installer-session=$id" >/dev/null 2>&1 &
app_pid=$!
for _ in $(seq 1 300); do
  [ -e "$receipts/$id.receipt.json" ] && break
  sleep 0.1
done
check "uninstall while running: the app is up" yes "$(exists "$receipts/$id.receipt.json")"
check "uninstall while running: exit code" 1603 "$(exit_code "\"$uninstaller_win\" /uninstall")"
check "uninstall while running: everything kept" "yes|yes|yes" \
  "$(exists "$folder/Tavro.exe")|$(exists "$folder/Uninstall Tavro.exe")|$(record_present)"
kill "$app_pid" 2>/dev/null
wait "$app_pid" 2>/dev/null

check "uninstall: exit code" 0 "$(exit_code "\"$uninstaller_win\" /uninstall")"
check "uninstall: folder and record gone" "no|no" "$(exists "$folder")|$(record_present)"
# The running uninstaller cannot delete itself: it moves aside into the temporary
# folder, and the next setup run (or a restart) removes it.
leftovers() { find "$WINEPREFIX/drive_c/users/$user" -name 'Tavro-uninstall-*.tmp' | wc -l; }
check "uninstall: the uninstaller moved aside" 1 "$(leftovers)"
check "uninstall again (from the setup): exit code" 0 \
  "$(exit_code "\"$(windows_path "$demo/1.0.0/Tavro-Setup-1.0.0.exe")\" /uninstall")"
check "uninstall again: the moved uninstaller removed" 0 "$(leftovers)"

echo "$passed passed, $failures failed"
[ "$failures" -eq 0 ]
