#!/usr/bin/env bash
# Download benchmark: serves a 256 MiB package from the test channel server and, in
# the same run, (a) downloads it with curl and hashes it with sha512sum, (b) downloads it
# with the installer's own download code under Wine and hashes it with the installer's
# digest code; then the same with half of the file already present (a resumed download).
# Prints both wall times, the ratio (b)/(a) and the installer process's peak working set.
# Needs root (port 443, the trust store). Usage: scripts/benchmark-download.sh [MiB]
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$repo"
mib=${1:-256}

scripts/deps.sh >/dev/null
cmake --preset windows >/dev/null
cmake --build --preset windows --target fetch_benchmark >/dev/null

work="$repo/build/windows/bench"
state="$work/state" root="$work/root" out="$work/out"
export WINEPREFIX="$repo/build/windows/wineprefix" WINEDEBUG=-all
cleanup() {
  bash tests/channel/channel.sh stop "$state" >/dev/null 2>&1 || true
  wineserver -k 2>/dev/null || true
  rm -rf "$root" "$out"
}
trap cleanup EXIT
rm -rf "$work"
mkdir -p "$root/desktop/win" "$out"
package="$root/desktop/win/Tavro-Setup-bench.exe"
head -c $((mib << 20)) /dev/urandom >"$package"
size=$(stat -c %s "$package")
url="https://localhost/desktop/win/Tavro-Setup-bench.exe"

bash tests/channel/channel.sh start "$state" "$root" >/dev/null
# The prefix reads the trust store when its wineserver starts.
wineserver -k 2>/dev/null || true
cmake/wine-run.sh cmd /c exit 0 >/dev/null 2>&1 || true
expected_digest=$(sha512sum "$package" | cut -d' ' -f1)

now() { date +%s.%N; }
seconds() { awk -v a="$1" -v b="$2" 'BEGIN { print b - a }'; }

curl_run() { # file; sets curl_wall, curl_fetch, curl_hash
  local start middle end digest
  start=$(now)
  curl -sS --fail -C - -o "$1" "$url"
  middle=$(now)
  digest=$(sha512sum "$1" | cut -d' ' -f1)
  end=$(now)
  [ "$digest" = "$expected_digest" ] || { echo "curl: digest mismatch" >&2; exit 1; }
  curl_wall=$(seconds "$start" "$end")
  curl_fetch=$(seconds "$start" "$middle")
  curl_hash=$(seconds "$middle" "$end")
}

installer_run() { # file validator -> prints report lines, sets wall
  local start end report
  start=$(now)
  report=$(cmake/wine-run.sh build/windows/bin/fetch_benchmark.exe "$url" "Z:$1" "$size" "$2" | tr -d '\r')
  end=$(now)
  grep -q "^sha512 $expected_digest\$" <<<"$report" || { echo "installer: digest mismatch: $report" >&2; exit 1; }
  installer_wall=$(seconds "$start" "$end")
  installer_peak=$(awk '/^peak_working_set/ {print $2}' <<<"$report")
  installer_fetch=$(awk '/^fetch_seconds/ {print $2}' <<<"$report")
  installer_hash=$(awk '/^hash_seconds/ {print $2}' <<<"$report")
}

report() { # label
  printf '%-8s (a) curl + sha512sum %6.2f s (download %.2f s, hash %.2f s)\n' "$1" "$curl_wall" "$curl_fetch" "$curl_hash"
  printf '%-8s (b) installer code   %6.2f s (download %.2f s, hash %.2f s, Wine process start and exit %.2f s)\n' \
    "$1" "$installer_wall" "$installer_fetch" "$installer_hash" \
    "$(awk -v w="$installer_wall" -v f="$installer_fetch" -v h="$installer_hash" 'BEGIN { print w - f - h }')"
  printf '%-8s ratio (b)/(a) %.2f, peak working set of (b) %.1f MiB\n' "$1" \
    "$(awk -v a="$installer_wall" -v b="$curl_wall" 'BEGIN { print a / b }')" \
    "$(awk -v p="$installer_peak" 'BEGIN { print p / 1048576 }')"
}

etag=$(curl -sSI "$url" | tr -d '\r' | awk -F': ' 'tolower($1)=="etag" {print $2}')
echo "package: $mib MiB, $size bytes, ETag $etag"

rm -f "$out/curl.bin" "$out/installer.bin"
curl_run "$out/curl.bin"
installer_run "$out/installer.bin" ""
report full

# Where the time goes: the same body read with bare WinHTTP calls under Wine, no file.
raw=$(cmake/wine-run.sh build/windows/bin/fetch_benchmark.exe --raw "$url" | tr -d '\r')
printf 'bare WinHTTP reads under Wine: %s s for the body, %s reads of %s bytes on average\n' \
  "$(awk '/^raw_seconds/ {print $2}' <<<"$raw")" "$(awk '/^raw_reads/ {print $2}' <<<"$raw")" \
  "$(awk '/^raw_bytes_per_read/ {print $2}' <<<"$raw")"

half=$((size / 2))
head -c "$half" "$package" >"$out/curl.bin"
head -c "$half" "$package" >"$out/installer.bin"
curl_run "$out/curl.bin"
installer_run "$out/installer.bin" "$etag"
report resumed
