#!/usr/bin/env bash
# Copies the README's pictures of the installer window from the last run of window_tests
# (its screenshots, taken once the clip has played past its fade-in, and the high-contrast
# page) into docs/window. Run it after a change to the page, the slides or the clips:
#   ctest --preset windows -R window_tests && scripts/readme-shots.sh [BUILD_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
shots=${1:-$root/build/windows}/window-shots
for name in en-US-preview ja-JP-preview ar-SA-retry sweep offline-link; do
  cp "$shots/readme-$name.png" "$root/docs/window/$name.png"
done
cp "$shots/high-contrast.png" "$root/docs/window/high-contrast.png"
echo "docs/window: $(cd "$root/docs/window" && ls | tr '\n' ' ')"
