#!/usr/bin/env bash
# A small tmpfs for the install run's full-disk scenario: `mount DIR SIZE` mounts it at DIR,
# `unmount DIR` removes it. Mounting needs root (as in CI); without it DIR stays absent
# and the scenario says it was skipped.
set -uo pipefail
action=$1 dir=$2
case $action in
mount)
  size=$3
  if mountpoint -q "$dir"; then umount "$dir"; fi
  mkdir -p "$dir"
  if ! mount -t tmpfs -o "size=$size,mode=0755" tavro-small-disk "$dir" 2>/dev/null; then
    echo "small disk: cannot mount a tmpfs at $dir (not root?)"
    rmdir "$dir"
  fi
  ;;
unmount)
  if mountpoint -q "$dir"; then umount "$dir" || umount -l "$dir"; fi
  if [ -d "$dir" ]; then rmdir "$dir"; fi
  ;;
*)
  echo "usage: $0 mount DIR SIZE | unmount DIR" >&2
  exit 2
  ;;
esac
exit 0
