#!/usr/bin/env bash
# Builds a release channel folder for one setup package: OUT_DIR/desktop/win/ gets
# a copy of the package and a latest.yml that names it, the layout the test channel
# server serves (/desktop/win/latest.yml is OUT_DIR/desktop/win/latest.yml).
#
#   make-channel.sh OUT_DIR SETUP_EXE [BASE_URL]
#
# The version comes from the package's file name, which must be
# Tavro-Setup-<major>.<minor>.<patch>.exe. Without BASE_URL the file URL is the bare
# file name (resolved by the installer against the feed's own URL); with it, the
# URL is BASE_URL/<file name>. releaseDate is now, or SOURCE_DATE_EPOCH when set.
set -euo pipefail

if [ $# -lt 2 ] || [ $# -gt 3 ]; then
  echo "usage: make-channel.sh OUT_DIR SETUP_EXE [BASE_URL]" >&2
  exit 2
fi
out=$1 setup=$2 base=${3:-}

name=$(basename -- "$setup")
if [[ ! $name =~ ^Tavro-Setup-([0-9]+\.[0-9]+\.[0-9]+)\.exe$ ]]; then
  echo "make-channel.sh: $name is not named Tavro-Setup-<major>.<minor>.<patch>.exe" >&2
  exit 2
fi
version=${BASH_REMATCH[1]}
[ -f "$setup" ] || { echo "make-channel.sh: no such file: $setup" >&2; exit 2; }

url=$name
if [ -n "$base" ]; then url="${base%/}/$name"; fi

dir="$out/desktop/win"
mkdir -p "$dir"
# The copy goes through a temporary name so that a server never serves half a file.
cp -- "$setup" "$dir/.$name.tmp"
mv -f -- "$dir/.$name.tmp" "$dir/$name"

sha512=$(openssl dgst -sha512 -binary "$dir/$name" | base64 -w0)
size=$(stat -c %s "$dir/$name")
date=$(date -u -d "@${SOURCE_DATE_EPOCH:-$(date +%s)}" +%Y-%m-%dT%H:%M:%S.000Z)

cat >"$dir/.latest.yml.tmp" <<END
version: $version
files:
  - url: $url
    sha512: $sha512
    size: $size
path: $url
sha512: $sha512
releaseDate: '$date'
END
mv -f -- "$dir/.latest.yml.tmp" "$dir/latest.yml"
echo "make-channel.sh: $dir/latest.yml names $url ($size bytes)"
