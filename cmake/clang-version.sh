#!/bin/sh
# Prints the version N of this Debian release's own clang (the clang-N that its "clang"
# package depends on), from apt's lists alone; prints nothing and fails when apt knows none.
# scripts/deps.sh installs that clang-N with its libFuzzer, and the fuzz preset builds with it.
v=$(apt-cache depends clang 2>/dev/null | sed -n 's/^ *Depends: clang-\([0-9][0-9]*\)$/\1/p' | head -n 1)
[ -n "$v" ] || exit 1
echo "$v"
