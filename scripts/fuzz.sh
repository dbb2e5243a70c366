#!/usr/bin/env bash
# Runs every fuzz target for longer than ctest does: SECONDS in all (default 600), shared
# evenly among the targets, one after another on one core. Each target keeps its corpus in
# <build>/fuzz/corpus/<target> from run to run; an input that crashes, leaks or hangs is
# written to <build>/fuzz/findings and ends that target's run. Prints the executions of
# each target and exits non-zero when any found a fault.
#
#   scripts/fuzz.sh [SECONDS]
#   TAVRO_FUZZ_BUILD_DIR=build/x scripts/fuzz.sh   (another build tree than build/fuzz)
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$repo"
seconds=${1:-600}
build=${TAVRO_FUZZ_BUILD_DIR:-$repo/build/fuzz}

scripts/deps.sh >/dev/null
cmake --preset fuzz -B "$build" >/dev/null
cmake --build "$build"

mapfile -t targets < <(find "$build/bin" -maxdepth 1 -type f -name '*_fuzz' -perm -u+x | sort)
each=$((seconds / ${#targets[@]}))
[ "$each" -ge 1 ] || each=1
failed=0
for fuzzer in "${targets[@]}"; do
  name=$(basename "$fuzzer")
  log="$build/fuzz/$name.log"
  result=clean
  if ! tests/fuzz/run_fuzzer.sh "$fuzzer" "$build/fuzz/seeds/$name" "$build/fuzz/corpus/$name" \
      "$build/fuzz/findings" -max_total_time="$each" >"$log" 2>&1; then
    result="FAULT, see $log"
    failed=1
  fi
  runs=$(awk '/number_of_executed_units/ {print $2}' "$log")
  printf '%-22s %10s executions in %4s s: %s\n' "$name" "${runs:-?}" "$each" "$result"
done
exit "$failed"
