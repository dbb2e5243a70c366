#!/usr/bin/env bash
# Runs a Windows program under Wine in the build tree's own prefix, creating
# the prefix (as Windows 10) on first use. Parallel callers wait on one lock.
set -euo pipefail
build_dir=${TAVRO_BUILD_DIR:-$(pwd)}
while [ ! -f "$build_dir/CMakeCache.txt" ] && [ "$build_dir" != / ]; do
  build_dir=$(dirname "$build_dir")
done
export WINEPREFIX=${WINEPREFIX:-$build_dir/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
if [ ! -f "$WINEPREFIX/.tavro-ready" ]; then
  mkdir -p "$(dirname "$WINEPREFIX")"
  exec 9>"$WINEPREFIX.lock"
  flock 9
  if [ ! -f "$WINEPREFIX/.tavro-ready" ]; then
    # Made with the standard overrides whatever the caller runs with: with Media Foundation
    # turned off, wineboot waits for good under an X display.
    WINEDLLOVERRIDES="mscoree,mshtml=" wine wineboot -i >/dev/null 2>&1
    WINEDLLOVERRIDES="mscoree,mshtml=" wine winecfg -v win10 >/dev/null 2>&1
    wineserver -w
    # GDI+'s generic sans-serif, which the page's text falls back to without Segoe UI: Wine's
    # own Tahoma, so that text is measured and drawn the same in every test prefix.
    cp /usr/share/wine/fonts/tahoma.ttf /usr/share/wine/fonts/tahomabd.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
    touch "$WINEPREFIX/.tavro-ready"
  fi
  flock -u 9
fi
exec wine "$@"
