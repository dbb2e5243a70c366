#!/usr/bin/env bash
# ctest fixture around channel.sh: starts or stops the channel server for the Wine tests
# and restarts the test prefix's wineserver, which reads the trust store when it starts.
#   fixture.sh start STATE_DIR ROOT_DIR | fixture.sh stop STATE_DIR
set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
case ${1:-} in
  start) mkdir -p "$3" && bash "$here/channel.sh" start "$2" "$3" || exit 1 ;;
  stop) bash "$here/channel.sh" stop "$2" || exit 1 ;;
  *) echo "usage: fixture.sh start STATE_DIR ROOT_DIR | stop STATE_DIR" >&2; exit 2 ;;
esac
if [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX" ]; then
  wineserver -k 2>/dev/null
  wineserver -w 2>/dev/null
fi
exit 0
