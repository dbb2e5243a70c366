#!/usr/bin/env bash
# Tries the README's two commands as a newcomer would: makes a pristine Debian RELEASE (12 or
# 13) with debootstrap (minbase plus git and ca-certificates), clones this checkout's HEAD
# into it, runs scripts/demo.sh and then scripts/test.sh inside as root, and reports both exit
# codes and times. Everything it made goes when it ends, also when it is interrupted: the
# processes running in the chroot (by process id), its mounts, and the chroot itself with the
# test root that the scripts trusted inside it. The logs stay in build/fresh-debian-RELEASE.
#
#   scripts/fresh-debian.sh 12|13
#
# Exits with 0 when both commands passed, 1 when one failed, 2 on wrong use, and 3 when the
# Debian mirror failed it (debootstrap, or the packages that a command installs, could not
# be fetched): that says nothing of this checkout.
#
# Needs root (debootstrap, chroot, mounts) and the Debian mirror. The chroot shares this
# machine's network, so the scripts inside take the same lock on port 443 as those outside.
# TAVRO_FRESH_MIRROR names another mirror than the one in this machine's apt sources.
set -euo pipefail

release=${1:-}
case $release in
  12) codename=bookworm ;;
  13) codename=trixie ;;
  *) echo "usage: scripts/fresh-debian.sh 12|13" >&2; exit 2 ;;
esac
[ "$(id -u)" -eq 0 ] || { echo "fresh-debian.sh: needs root" >&2; exit 2; }

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
logs=$repo/build/fresh-debian-$release
mkdir -p "$logs"
if ! command -v debootstrap >/dev/null; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends debootstrap >/dev/null ||
    { apt-get update >/dev/null && DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends debootstrap >/dev/null; }
fi
mirror=${TAVRO_FRESH_MIRROR:-$(sed -n 's|^URIs: *\(http[^ ]*/debian\)/*$|\1|p' /etc/apt/sources.list.d/*.sources 2>/dev/null | head -n 1)}
mirror=${mirror:-http://deb.debian.org/debian}

root=$(mktemp -d "/var/tmp/tavro-fresh-$release.XXXXXX")

# Processes whose root directory is the chroot, by id.
chroot_pids() {
  local p link
  for p in /proc/[0-9]*; do
    link=$(readlink "$p/root" 2>/dev/null) || continue
    case $link in "$root" | "$root"/*) echo "${p#/proc/}" ;; esac
  done
}

cleanup() {
  local status=$? pids
  trap - EXIT INT TERM HUP
  set +e
  for signal in TERM KILL; do
    pids=$(chroot_pids)
    [ -z "$pids" ] && break
    # shellcheck disable=SC2086  # a list of ids
    kill -s "$signal" $pids 2>/dev/null
    sleep 2
  done
  # Innermost mounts first; a busy one is detached so that nothing stays mounted.
  findmnt -rn -o TARGET | grep -E "^$root(/|$)" | sort -r | while read -r target; do
    umount "$target" 2>/dev/null || umount -l "$target"
  done
  if findmnt -rn -o TARGET | grep -qE "^$root(/|$)"; then
    echo "fresh-debian.sh: mounts are left under $root; not removing it" >&2
    status=1
  else
    rm -rf --one-file-system "$root"
  fi
  exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

echo "==== debootstrap $codename ($mirror) into $root"
started=$(date +%s)
debootstrap --variant=minbase --include=git,ca-certificates "$codename" "$root" "$mirror" >"$logs/debootstrap.log" 2>&1 ||
  { echo "fresh-debian.sh: debootstrap failed, see $logs/debootstrap.log" >&2; exit 3; }
echo "     $(( $(date +%s) - started )) s"

mount -t proc proc "$root/proc"
mount -t sysfs sysfs "$root/sys"
mount --rbind /dev "$root/dev"
mount --make-rslave "$root/dev"
cp /etc/resolv.conf "$root/etc/resolv.conf"
# Every installed Debian names localhost in /etc/hosts (the installer writes it); debootstrap
# leaves none for bookworm, and the demo channel is https://localhost/.
[ -e "$root/etc/hosts" ] || printf '127.0.0.1\tlocalhost\n::1\t\tlocalhost ip6-localhost ip6-loopback\n' >"$root/etc/hosts"
# One lock on port 443 for the scripts inside and outside the chroot.
touch /tmp/tavro-port443.lock "$root/tmp/tavro-port443.lock"
mount --bind /tmp/tavro-port443.lock "$root/tmp/tavro-port443.lock"

git clone -q "$repo" "$root/root/tavro"

inside() { # inside <log> <command...>: runs as a newcomer's root shell would, prints exit code and time
  local log=$1 code start
  shift
  start=$(date +%s)
  set +e
  chroot "$root" /usr/bin/env -i HOME=/root LANG=C.UTF-8 TERM=dumb \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    bash -c 'cd /root/tavro && "$@"' _ "$@" </dev/null >"$log" 2>&1
  code=$?
  set -e
  echo "$code $(( $(date +%s) - start ))"
}

echo "==== scripts/demo.sh on Debian $release"
read -r demo_code demo_time < <(inside "$logs/demo.log" scripts/demo.sh)
tail -n 5 "$logs/demo.log" | sed 's/^/     /'
echo "==== scripts/test.sh on Debian $release"
read -r test_code test_time < <(inside "$logs/test.log" scripts/test.sh)
grep -E '^==== ' "$logs/test.log" | tail -n 12 | sed 's/^/     /'

echo
echo "Debian $release ($codename): scripts/demo.sh exit $demo_code in $demo_time s; scripts/test.sh exit $test_code in $test_time s (logs: $logs)"
[ "$demo_code" -eq 0 ] && [ "$test_code" -eq 0 ] && exit 0
# apt's own words for a package it could not fetch; a failure with them is the mirror's.
for log in "$logs/demo.log" "$logs/test.log"; do
  if grep -qE '^(E: Failed to fetch|E: Unable to fetch|E: Failed to download|Err:[0-9]+ )' "$log"; then
    echo "fresh-debian.sh: the mirror failed the package installs, see $log" >&2
    exit 3
  fi
done
exit 1
