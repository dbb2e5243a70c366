#!/usr/bin/env bash
# A browser's Downloads folder holds whatever was downloaded beside the installer. Here a
# DLL that leaves a marker file when it is loaded lies next to a copy of the installer
# under the name of every DLL that is not a known DLL, Wine is told to prefer such native
# copies (as Windows would search the folder), and every mode runs from that folder: the
# feed check, the installed check, the preview, the start-up error box (a build whose
# configuration fails at start), an install against the channel server, the installed
# check again. No program started from the folder may leave a marker or load anything
# from it, and every mode must still do its job. Each marker names the program that
# loaded it: Wine's helper processes (explorer, services, winedevice...) inherit the
# folder and the overrides, are not ours, and are only listed.
# Needs the channel fixture (its root gets the demo 1.0.0 channel) and an X display.
# Usage: planted_dll_test.sh <TavroInstaller.exe> <planted_dll.dll> <demo output dir> <prefix>
#                            <installer whose start fails> <dismiss_box.exe>
#
# Not planted, because Wine 8 cannot tell: the known DLLs (Wine keeps no KnownDLLs list, so
# it would take any of them from the folder, where Windows never does), and version.dll
# and zlib1.dll, which Wine's own user32 imports while the process is loaded, before any
# code of the program runs (Windows' user32 imports neither). Wine 8 also ignores the
# image's DependentLoadFlags (measured: a planted copy of an import is loaded all the
# same), so what the loader resolves before the program runs is proved on Windows only;
# here the image is checked to carry the flags (tavro-release check-installer).
set -uo pipefail
installer=$1 planted=$2 demo=$3 prefix=$4 failing=$5 dismiss=$6
here=$(cd "$(dirname "$0")" && pwd)
run="$here/../../cmake/wine-run.sh"
export WINEPREFIX=$prefix
failures=0 passed=0
check() {  # check <name> <expected> <actual>
  if [ "$2" = "$3" ]; then passed=$((passed + 1)); else failures=$((failures + 1)); echo "FAIL: $1: expected $2, got $3"; fi
}

# Every DLL the installer's modes load under Wine that is not a known DLL: its own
# run-time loads (WinHTTP, CryptoAPI, WinTrust, DWM, Media Foundation) and what those and
# the system DLLs pull in behind them. The load trace below fails the test when a mode
# loads a DLL that is neither here nor known, so this list cannot fall behind.
planted_names="winhttp crypt32 wintrust dwmapi mfplat mfreadwrite rtworkq bcrypt ncrypt jsproxy uxtheme dnsapi iphlpapi
secur32 schannel gnutls imagehlp dbghelp mssign32 cryptnet msasn1 userenv propsys windowscodecs comctl32 msimg32
winmm mf mfsrcsnk winegstreamer quartz dsound mmdevapi winepulse winealsa wintab32 kerberos msv1_0 dxgi d3d11 d3d9 wined3d opengl32
dwrite mlang msacm32 msdmo evr mfmp4srcsnk winedmo urlmon wininet netapi32 netutils srvcli wtsapi32 hid setupapi cfgmgr32 powrprof
winspool apphelp sspicli odbc32 oleacc riched20 usp10 xinput1_3 wmvcore amstream devenum msvfw32 avifil32 msxml3
dbgeng rsaenh dssenh cryptsp cryptbase bcryptprimitives crypt32 dpapi credui wldp samlib winsta"
known="advapi32 clbcatq combase comdlg32 coml2 difxapi gdi32 gdiplus imagehlp imm32 kernel32 msctf msvcrt normaliz
nsi ole32 oleaut32 psapi rpcrt4 sechost setupapi shcore shell32 shlwapi user32 wldap32 ws2_32"
# Wine's core, loaded before the program's first instruction or never by name.
wine_core="ntdll kernelbase win32u ucrtbase version zlib1 winex11 winex11.drv"

for f in "$installer" "$planted" "$failing" "$dismiss" "$demo/1.0.0/channel/desktop/win/latest.yml"; do
  [ -f "$f" ] || { echo "missing input: $f"; exit 1; }
done
[ -n "${DISPLAY:-}" ] || { echo "FAIL: the preview and the install need an X display (run under xvfb-run -a)"; exit 1; }
[ -n "${TAVRO_CHANNEL_STATE:-}" ] && [ -d "${TAVRO_CHANNEL_ROOT:-}" ] || { echo "FAIL: needs the channel fixture"; exit 1; }
case $prefix in /?*/wineprefix-planted) ;; *) echo "refusing prefix '$prefix'"; exit 1 ;; esac

work=$(mktemp -d "${TMPDIR:-/tmp}/planted-dll.XXXXXX")
cleanup() {
  wineserver -k 2>/dev/null
  wineserver -w 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
# A fresh prefix: no installed copy, no cache, and a wineserver that reads the trust store
# with the channel's root in it.
wineserver -k 2>/dev/null
wineserver -w 2>/dev/null
rm -rf "$prefix"
"$run" cmd /c exit 0 >/dev/null 2>&1 || { echo "cannot create the prefix $prefix"; exit 1; }
wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1

app="$work/Downloads" markers="$work/markers" trace="$work/loaddll.txt"
mkdir -p "$app" "$markers"
cp "$installer" "$app/TavroInstaller.exe"
cp "$failing" "$app/TavroInstallerFailing.exe"
names=$(comm -23 <(tr ' \n' '\n\n' <<<"$planted_names" | sed '/^$/d' | sort -u) <(tr ' \n' '\n\n' <<<"$known" | sort -u))
for name in $names; do cp "$planted" "$app/$name.dll"; done
mkdir -p "$TAVRO_CHANNEL_ROOT/desktop/win"
cp "$demo/1.0.0/channel/desktop/win/"* "$TAVRO_CHANNEL_ROOT/desktop/win/"
echo '[]' >"$TAVRO_CHANNEL_STATE/script.json.tmp" && mv "$TAVRO_CHANNEL_STATE/script.json.tmp" "$TAVRO_CHANNEL_STATE/script.json"
printf 'version: 1.0.0\nfiles:\n  - url: Tavro-Setup-1.0.0.exe\n    sha512: %s\n    size: 1024\n' \
  'lOx7CcNiSWsDe/2Ikg4V8QXiiHgQqTgciOVxqOk2iPNUAvegbk5hZ5iWKYLhTKB9R4dT7XSfp5UltjEebhI/nA==' >"$app/good.yml"

export TAVRO_PLANTED_MARKERS
TAVRO_PLANTED_MARKERS=$(winepath -w "$markers" 2>/dev/null)
export WINEDLLOVERRIDES="mscoree,mshtml=;$(paste -sd, <<<"$names")=n,b"
export WINEDEBUG=+pid,+loaddll

# Runs a program of the Downloads folder (also its current directory), with the load
# trace appended to $trace; prints its exit code, or "blocked" after the time limit.
installer_run() {  # installer_run <seconds> [arguments...]
  local limit=$1 code=blocked program=${program:-TavroInstaller.exe}
  shift
  (cd "$app" && exec wine "./$program" "$@") >/dev/null 2>>"$trace" &
  local pid=$!
  for _ in $(seq 1 $((limit * 10))); do
    if ! kill -0 "$pid" 2>/dev/null; then wait "$pid"; code=$?; break; fi
    sleep 0.1
  done
  [ "$code" = blocked ] && { kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; }
  echo "$code"
}

check "feed check exit code" 0 "$(installer_run 60 --verify-feed good.yml)"
check "installed check before the install" 1 "$(installer_run 60 --verify-installed)"

(cd "$app" && exec wine ./TavroInstaller.exe --ui-preview) >/dev/null 2>>"$trace" &
pid=$!
window=
for _ in $(seq 1 300); do
  window=$(xdotool search --onlyvisible --name '^Tavro Installer$' 2>/dev/null | head -n 1)
  [ -n "$window" ] && break
  sleep 0.2
done
check "preview window opens" yes "${window:+yes}"
code=blocked
for _ in 1 2 3; do
  [ -n "$window" ] && xdotool key --window "$window" alt+F4 2>/dev/null
  for _ in $(seq 1 50); do
    if ! kill -0 "$pid" 2>/dev/null; then wait "$pid"; code=$?; break 2; fi
    sleep 0.2
  done
done
[ "$code" = blocked ] && { kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; }
check "preview exit code after closing" 0 "$code"

# The start-up error box, read and dismissed from outside the folder.
program=TavroInstallerFailing.exe installer_run 120 >"$work/box-code" &
box=$(cd "$work" && WINEDEBUG=-all timeout 100 wine "$dismiss" 60 2>/dev/null | tr -d '\r')
wait
check "start-up error box shown" yes "$(grep -q '^icon: error' <<<"$box" && echo yes || echo no)"
check "start-up failure exit code" 1 "$(cat "$work/box-code")"

# The install closes its window by itself once the setup has confirmed the version.
check "install exit code" 0 "$(installer_run 180)"
check "installed check after the install" 0 "$(installer_run 60 --verify-installed)"

# Markers name the program that loaded the DLL; only programs of the folder are ours.
app_windows=$(winepath -w "$app" 2>/dev/null | tr 'A-Z' 'a-z')
ours="" others=""
for marker in "$markers"/*.loaded; do
  [ -e "$marker" ] || continue
  entry="$(basename "$marker" .loaded) by $(tr -d '\r' <"$marker")"
  if tr 'A-Z' 'a-z' <"$marker" | grep -qF "$app_windows\\"; then ours+="$entry; "; else others+="$entry; "; fi
done
[ -n "$others" ] && echo "loaded by Wine's helper processes, not judged: $others"
check "markers left by the folder's programs" "" "$ours"
# Only the processes of the folder's programs count (the setup and the application are not ours).
pids=$(grep -iE 'Loaded L"[^"]*(tavroinstaller|tavroinstallerfailing)\.exe"' "$trace" | cut -d: -f1 | sort -u | paste -sd '|')
grep -E "^($pids):" "$trace" >"$trace.ours"
# The trace writes each backslash twice.
from_folder=$(grep -o 'Loaded L"[^"]*"' "$trace.ours" | tr 'A-Z' 'a-z' | grep -F "$(sed 's/\\/\\\\/g' <<<"$app_windows")" |
  grep -vE 'tavroinstaller(failing)?\.exe"' | sort -u)
check "DLLs loaded from the installer's folder" "" "$from_folder"
# Every DLL loaded in any mode is planted, known, or Wine's core.
loaded=$(grep -o 'Loaded L"[^"]*\.dll"' "$trace.ours" | sed 's/.*\\//; s/\.dll"$//' | tr 'A-Z' 'a-z' | sort -u)
unplanted=$(comm -23 <(echo "$loaded") <(printf '%s\n' $names $known $wine_core | sort -u) | paste -sd ' ')
check "DLLs loaded that the test does not plant" "" "$unplanted"

echo "planted $(wc -w <<<"$names") names; $passed passed, $failures failed"
[ "$failures" -eq 0 ]
