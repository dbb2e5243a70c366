#!/usr/bin/env bash
# End to end: the real installer under Wine. The feed check answers by exit code alone
# (never a window or a box, never a crash); a configuration with an untrusted URL shows
# the error box and exits 1 in every mode.
# Usage: startup_test.sh <TavroInstaller.exe> <installer with untrusted offlineURL> <dismiss_box.exe>
set -uo pipefail
installer=$1 untrusted=$2 dismiss=$3
here=$(cd "$(dirname "$0")" && pwd)
run="$here/../../cmake/wine-run.sh"
work=$(mktemp -d "${TAVRO_BUILD_DIR:-/tmp}/e2e-startup.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"
failures=0 passed=0

check() {  # check <name> <expected> <actual>
  if [ "$2" = "$3" ]; then passed=$((passed + 1)); else failures=$((failures + 1)); echo "FAIL: $1: expected $2, got $3"; fi
}

finish() { # pid: sets $finished to its exit code once it ends, or to "timeout" (and ends it) after 30 s
  finished=timeout
  for _ in $(seq 1 300); do
    if ! kill -0 "$1" 2>/dev/null; then wait "$1"; finished=$?; break; fi
    sleep 0.1
  done
  if [ "$finished" = timeout ]; then kill "$1" 2>/dev/null; wait "$1" 2>/dev/null; fi
}

sha='lOx7CcNiSWsDe/2Ikg4V8QXiiHgQqTgciOVxqOk2iPNUAvegbk5hZ5iWKYLhTKB9R4dT7XSfp5UltjEebhI/nA=='
entry() { printf '  - url: %s\n    sha512: %s\n    size: %s\n' "$1" "${2:-$sha}" "${3:-1024}"; }
feed() { printf 'version: 1.0.0\nfiles:\n'; }

# name|expected exit code; the file is written by the case below.
{ feed; entry Tavro-Setup-1.0.0.exe; } > relative.yml
{ feed; entry https://127.0.0.1/files/Tavro-Setup-1.0.0.exe; entry Tavro-Setup-1.0.0.exe.blockmap; } > absolute.yml
{ feed; entry https://example.com/Tavro-Setup-1.0.0.exe; } > untrusted-host.yml
{ feed; entry http://localhost/Tavro-Setup-1.0.0.exe; } > plain-http.yml
{ feed; entry 'https://localhost:8443/Tavro-Setup-1.0.0.exe'; } > other-port.yml
{ feed; entry 'https://user@localhost/Tavro-Setup-1.0.0.exe'; } > user-info.yml
{ feed; entry 'https://LOCALHOST/Tavro-Setup-1.0.0.exe'; } > host-case.yml
{ feed; entry 'notes.txt'; } > no-package.yml
{ feed; entry Tavro-Setup-1.0.1.exe; } > wrong-version.yml
{ feed; entry Tavro-Setup-1.0.0.exe; entry Tavro-Setup-1.0.0.exe; } > duplicate.yml
{ feed; entry Tavro-Setup-1.0.0.exe "${sha%???}B=="; } > bad-hash.yml
{ feed; entry Tavro-Setup-1.0.0.exe "$sha" 0; } > zero-size.yml
{ feed; entry Tavro-Setup-1.0.0.exe "$sha" 99999999999999999999; } > huge-size.yml
{ printf 'version: 4294967296.0.0\nfiles:\n'; entry Tavro-Setup-4294967296.0.0.exe; } > wide-version.yml
{ feed; printf '  - url: Tavro-Setup-1.0.0.exe\n    size: 5\n'; } > no-hash.yml
{ feed; printf '   - url: x\n'; } > bad-indent.yml
{ printf "version: '1.0.0\nfiles:\n"; entry Tavro-Setup-1.0.0.exe; } > bad-scalar.yml
printf '' > empty.yml
# The longest lines a feed may have, and longer: one line of 131,072 and of 200,000 bytes.
head -c 131072 /dev/zero | tr '\0' 'x' > one-line-limit.yml
head -c 200000 /dev/zero | tr '\0' ' ' > one-line-over.yml
{ printf 'version: 1.0.0\nfiles:\n  - url: https://localhost/'; head -c 130000 /dev/zero | tr '\0' 'a'
  printf '/Tavro-Setup-1.0.0.exe\n    sha512: %s\n    size: 1\n' "$sha"; } > long-url.yml
{ printf 'version: 1.0.0\nfiles:\n  - url: '; head -c 131000 /dev/zero | tr '\0' 'u'; printf '\n'; } > long-value.yml

cases="relative.yml|0 absolute.yml|0 long-url.yml|0 untrusted-host.yml|1 plain-http.yml|1 other-port.yml|1
user-info.yml|1 host-case.yml|1 no-package.yml|1 wrong-version.yml|1 duplicate.yml|1 bad-hash.yml|1
zero-size.yml|1 huge-size.yml|1 wide-version.yml|1 no-hash.yml|1 bad-indent.yml|1 bad-scalar.yml|1
empty.yml|1 one-line-limit.yml|1 one-line-over.yml|1 long-value.yml|1 does-not-exist.yml|1"
for c in $cases; do
  name=${c%%|*} expected=${c##*|}
  # A box or window would block: the time limit turns that into a failure, not a hang.
  timeout 120 "$run" "$installer" --verify-feed "$name" >/dev/null 2>&1
  check "--verify-feed $name" "$expected" "$?"
done

# An untrusted offlineURL fails every start: the box shows the localized error text.
if [ -z "${DISPLAY:-}" ]; then
  echo "FAIL: the error-box cases need an X display (run under xvfb-run)"
  failures=$((failures + 1))
else
  expected_text='Unable to verify the installer or application. Download the installer again.'
  for mode in "--verify-feed relative.yml" "--verify-installed" "--ui-preview" ""; do
    # shellcheck disable=SC2086
    LC_ALL=en_US.UTF-8 "$run" "$untrusted" $mode >/dev/null 2>&1 &
    pid=$!
    box=$(timeout 90 "$run" "$dismiss" 60 2>/dev/null | tr -d '\r')
    finish "$pid"
    check "untrusted offlineURL [$mode] exit code" 1 "$finished"
    check "untrusted offlineURL [$mode] box text" "text: $expected_text" "$(grep '^text:' <<<"$box")"
    check "untrusted offlineURL [$mode] box icon" "icon: error" "$(grep '^icon:' <<<"$box")"
    check "untrusted offlineURL [$mode] OK button" "ok: yes" "$(grep '^ok:' <<<"$box")"
  done

  # The box speaks the user's language: the locale comes from the display language.
  for pair in "ja_JP.UTF-8 ja-JP" "ar_EG.UTF-8 ar-SA" "zh_HK.UTF-8 zh-TW"; do
    lc=${pair% *} locale=${pair#* }
    localized=$(python3 -c 'import json, sys; print(json.load(open(sys.argv[1], encoding="utf-8"))[sys.argv[2]]["desktop_installer_verification_error"])' \
      "$here/../../resources/locales.json" "$locale")
    LC_ALL=$lc "$run" "$untrusted" >/dev/null 2>&1 &
    pid=$!
    box=$(timeout 90 "$run" "$dismiss" 60 2>/dev/null | tr -d '\r')
    finish "$pid"
    check "untrusted offlineURL [$lc] exit code" 1 "$finished"
    check "untrusted offlineURL [$lc] box text" "text: $localized" "$(grep '^text:' <<<"$box")"
  done
fi

echo "$passed passed, $failures failed"
[ "$failures" -eq 0 ]
