#!/usr/bin/env bash
# A small tmpfs for the install run's disk scenarios: `mount DIR PACKAGE` mounts one at DIR
# that is just large enough for the space check on PACKAGE to pass (the check asks for nine
# times the package plus 512 MiB), `unmount DIR` removes it. Mounting needs root (as in CI);
# without it DIR stays absent and the scenarios report themselves skipped.
set -uo pipefail
action=$1 dir=$2
case $action in
mount)
  package=$3
  if mountpoint -q "$dir"; then umount "$dir"; fi
  if ! size=$(stat -c %s "$package"); then
    echo "small disk: no package at $package" >&2
    exit 1
  fi
  # 16 MiB beyond the check's need: room for the test's own files, and a margin that the
  # scenario fills once the check has passed.
  kib=$(( (536870912 + 9 * size) / 1024 + 16384 ))
  mkdir -p "$dir"
  if ! error=$(mount -t tmpfs -o "size=${kib}k,mode=0755" tavro-small-disk "$dir" 2>&1); then
    echo "small disk: cannot mount a tmpfs at $dir: $error"
    rmdir "$dir"
  else
    echo "small disk: ${kib} KiB at $dir"
  fi
  ;;
unmount)
  if mountpoint -q "$dir"; then umount "$dir" || umount -l "$dir"; fi
  if [ -d "$dir" ]; then rmdir "$dir"; fi
  ;;
*)
  echo "usage: $0 mount DIR PACKAGE | unmount DIR" >&2
  exit 2
  ;;
esac
exit 0
