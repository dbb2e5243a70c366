#!/usr/bin/env bash
# Runs one fuzz target over a working corpus and its seeds:
#   run_fuzzer.sh [--fresh] FUZZER SEEDS CORPUS FINDINGS [libFuzzer options...]
# New inputs go to CORPUS (emptied first with --fresh, so a ctest run does the same work
# each time); an input that crashes, leaks or hangs is written to FINDINGS, named after
# the target and the kind of fault.
set -euo pipefail
fresh=0
if [ "$1" = --fresh ]; then
  fresh=1
  shift
fi
fuzzer=$1 seeds=$2 corpus=$3 findings=$4
shift 4
[ "$fresh" = 0 ] || rm -rf "$corpus"
mkdir -p "$corpus" "$findings"
exec "$fuzzer" -artifact_prefix="$findings/$(basename "$fuzzer")-" -timeout=10 -print_final_stats=1 \
  "$@" "$corpus" "$seeds"
