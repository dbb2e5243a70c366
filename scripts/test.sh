#!/usr/bin/env bash
# Builds and tests everything: the layering of src/ (scripts/layers.py), the
# native build (sanitizers), the Windows build (tests under Wine, inside a
# virtual X display because some open windows) and the fuzz targets (a fixed
# number of inputs each). Each runs even when an earlier one fails; the exit
# code is non-zero when any step failed.
# Safe to run again: it reuses the build trees.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$repo"

scripts/deps.sh

# Only this build tree's Wine prefix is stopped; other prefixes on the
# machine are left alone.
stop_wine() {
  if [ -d "$repo/build/windows/wineprefix" ]; then
    WINEPREFIX="$repo/build/windows/wineprefix" wineserver -k 2>/dev/null || true
  fi
}
trap stop_wine EXIT

failed=()

step() { # label command...
  local label=$1
  shift
  echo
  echo "==== $label"
  if ! "$@"; then
    echo "==== $label: FAILED"
    failed+=("$label")
    return 1
  fi
}

# ctest only counts a test that could not run; the test itself says why. Print the reasons
# (GoogleTest's "Skipped" lines and the script runners' "skipped" lines) after each run.
show_skips() { # preset
  local log="build/$1/Testing/Temporary/LastTest.log"
  [ -f "$log" ] || return 0
  local reasons
  reasons=$(awk '/: Skipped$/ { getline; print "  " $0; next } /^[0-9]+: skipped / || /^skipped / { print "  " $0 }' "$log" | sort -u)
  if [ -n "$reasons" ]; then
    echo "==== $1: cases skipped, with their reasons:"
    echo "$reasons"
  fi
}

run_preset() { # preset [wrapper...]
  local preset=$1
  shift
  step "$preset: configure" cmake --preset "$preset" &&
    step "$preset: build" cmake --build --preset "$preset" &&
    step "$preset: test" "$@" ctest --preset "$preset"
  local status=$?
  show_skips "$preset"
  return $status
}

# shellcheck source=scripts/wine-env.sh
. scripts/wine-env.sh

step "layers: every include in src/ stands on a lower floor" python3 scripts/layers.py || true
run_preset native || true
echo
echo "==== windows: its tests run under $(wine --version 2>/dev/null || echo 'no Wine')"
run_preset windows xvfb-run -a || true
run_preset fuzz || true

echo
if [ ${#failed[@]} -ne 0 ]; then
  printf '==== failed: %s\n' "${failed[@]}"
  exit 1
fi
echo "==== all builds and tests passed"
