#!/usr/bin/env bash
# Starts and stops the test channel server on https://localhost (127.0.0.1:443) and
# trusts the test root CA system-wide while it runs, because WinHTTP under Wine checks
# server certificates against the Linux trust store.
#
#   channel.sh start STATE_DIR ROOT_DIR    trust the test root, start, wait for ready
#   channel.sh stop STATE_DIR              stop the server, untrust the root (idempotent)
#
# Needs root: it binds port 443 and edits /usr/local/share/ca-certificates. Only one
# server can hold port 443, and the trusted root is one system-wide file, so callers
# (ctest fixtures) must not run two of these at once (use a RESOURCE_LOCK). A Wine
# prefix reads the trust store when its wineserver starts: restart it (wineserver -k)
# after start and stop. TAVRO_CHANNEL_PORT and TAVRO_CHANNEL_LIFETIME override the
# port and the server's lifetime in seconds.
set -uo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
server="$here/channel_server.py"
root_ca="$here/../pki/root-ca.pem"
ca_file=/usr/local/share/ca-certificates/tavro-test-root.crt
port=${TAVRO_CHANNEL_PORT:-443}
lifetime=${TAVRO_CHANNEL_LIFETIME:-1800}

die() {
  echo "channel.sh: $*" >&2
  exit 1
}

usage() {
  echo "usage: channel.sh start STATE_DIR ROOT_DIR | channel.sh stop STATE_DIR" >&2
  exit 2
}

require_root() {
  [ "$(id -u)" = 0 ] || die "must run as root (it binds port $port and edits the system trust store)"
}

# True when PID is a live channel server for this state directory. Guards against a
# stale pid file whose number now belongs to some unrelated process.
is_our_server() { # pid state_dir
  local cmdline
  [ -r "/proc/$1/cmdline" ] || return 1
  cmdline=$(tr '\0' ' ' <"/proc/$1/cmdline" 2>/dev/null) || return 1
  [[ $cmdline == *channel_server.py*"--state $2 "* ]]
}

stop_server() { # state_dir
  local state=$1 pid_file="$1/server.pid" pid i
  for pid_file in "$state/server.pid" "$state/launcher.pid"; do
    [ -f "$pid_file" ] || continue
    pid=$(tr -dc '0-9' <"$pid_file")
    if [ -n "$pid" ] && is_our_server "$pid" "$state"; then
      kill -TERM "$pid" 2>/dev/null
      for i in $(seq 50); do
        is_our_server "$pid" "$state" || break
        sleep 0.1
      done
      if is_our_server "$pid" "$state"; then
        echo "channel.sh: server $pid ignored SIGTERM; killing it" >&2
        kill -KILL "$pid" 2>/dev/null
      fi
    fi
    rm -f "$pid_file"
  done
  rm -f "$state/ready"
}

untrust_root() {
  rm -f "$ca_file"
  update-ca-certificates --fresh >/dev/null 2>&1 ||
    echo "channel.sh: update-ca-certificates --fresh failed" >&2
}

cmd_start() { # state_dir root_dir
  local state root pid i
  [ -d "$2" ] || die "channel directory $2 does not exist"
  mkdir -p "$1" || die "cannot create $1"
  state=$(cd "$1" && pwd)
  root=$(cd "$2" && pwd)
  [ -f "$root_ca" ] || die "missing test root $root_ca"

  # A server left over from an earlier run of this state directory goes first.
  stop_server "$state"

  # On failure undo only our own change: a root already trusted may serve another run.
  local ca_was_trusted=0
  [ -f "$ca_file" ] && ca_was_trusted=1
  cp "$root_ca" "$ca_file" || { untrust_root; die "cannot install $ca_file"; }
  if ! update-ca-certificates >/dev/null 2>&1; then
    untrust_root
    die "update-ca-certificates failed"
  fi

  # setsid: the server outlives this script and the caller's terminal or ctest step.
  setsid python3 "$server" --state "$state" --root "$root" --port "$port" \
    --lifetime "$lifetime" >>"$state/server.log" 2>&1 </dev/null &
  pid=$!
  echo "$pid" >"$state/launcher.pid"

  for i in $(seq 100); do
    if [ -f "$state/ready" ]; then
      echo "channel.sh: serving $root on https://localhost:$port/ (pid $pid)"
      return 0
    fi
    if ! kill -0 "$pid" 2>/dev/null; then
      break
    fi
    sleep 0.1
  done
  echo "channel.sh: the server did not become ready; its log:" >&2
  tail -n 20 "$state/server.log" >&2
  stop_server "$state"
  [ "$ca_was_trusted" = 1 ] || untrust_root
  exit 1
}

cmd_stop() { # state_dir
  local state=$1
  if [ -d "$state" ]; then
    state=$(cd "$state" && pwd)
    stop_server "$state"
  fi
  untrust_root
}

[ $# -ge 1 ] || usage
case $1 in
  start)
    [ $# -eq 3 ] || usage
    require_root
    cmd_start "$2" "$3"
    ;;
  stop)
    [ $# -eq 2 ] || usage
    require_root
    cmd_stop "$2"
    ;;
  *)
    usage
    ;;
esac
