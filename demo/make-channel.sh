#!/usr/bin/env bash
# Builds a release channel folder for one setup package: OUT_DIR/desktop/win/ gets
# a copy of the package and a latest.yml that names it, the layout the test channel
# server serves (/desktop/win/latest.yml is OUT_DIR/desktop/win/latest.yml).
#
#   make-channel.sh [--unverified] OUT_DIR SETUP_EXE [BASE_URL]
#
# The feed is written by tavro-release (TAVRO_RELEASE, else the one on PATH), the
# way a publisher writes one: it refuses a package that the installer would refuse,
# and then nothing is written. TAVRO_CONFIG names the configuration to check against
# (default: the one embedded in the tool). Without BASE_URL the file URL is the bare
# file name (resolved by the installer against the feed's own URL); with it, the
# URL is BASE_URL/<file name>. releaseDate is now, or SOURCE_DATE_EPOCH when set.
#
# --unverified is for the negative fixtures (unsigned, tampered, other publisher),
# whose channels exist to be refused at install time: the feed is written here
# without looking into the package, and only its text goes through tavro-release check.
set -euo pipefail

unverified=no
if [ "${1:-}" = --unverified ]; then unverified=yes; shift; fi
if [ $# -lt 2 ] || [ $# -gt 3 ]; then
  echo "usage: make-channel.sh [--unverified] OUT_DIR SETUP_EXE [BASE_URL]" >&2
  exit 2
fi
out=$1 setup=$2 base=${3:-}
tool=${TAVRO_RELEASE:-$(command -v tavro-release || true)}
[ -x "$tool" ] || { echo "make-channel.sh: set TAVRO_RELEASE to the tavro-release program" >&2; exit 2; }
config=()
if [ -n "${TAVRO_CONFIG:-}" ]; then config=(--config "$TAVRO_CONFIG"); fi

name=$(basename -- "$setup")
[ -f "$setup" ] || { echo "make-channel.sh: no such file: $setup" >&2; exit 2; }
url=$name
if [ -n "$base" ]; then url="${base%/}/$name"; fi

dir="$out/desktop/win"
mkdir -p "$dir"
# Each file goes through a temporary name so that a server never serves half a file,
# and the package is in place before the feed that names it.
publish() {
  cp -- "$setup" "$dir/.$name.tmp"
  mv -f -- "$dir/.$name.tmp" "$dir/$name"
  mv -f -- "$dir/.latest.yml.tmp" "$dir/latest.yml"
}

if [ "$unverified" = no ]; then
  url_option=()
  if [ -n "$base" ]; then url_option=(--url "$url"); fi
  "$tool" feed "$setup" "${url_option[@]}" "${config[@]}" -o "$dir/.latest.yml.tmp"
  publish
  exit
fi

if [[ ! $name =~ ^Tavro-Setup-([0-9]+\.[0-9]+\.[0-9]+)\.exe$ ]]; then
  echo "make-channel.sh: $name is not named Tavro-Setup-<major>.<minor>.<patch>.exe" >&2
  exit 2
fi
sha512=$(openssl dgst -sha512 -binary "$setup" | base64 -w0)
date=$(date -u -d "@${SOURCE_DATE_EPOCH:-$(date +%s)}" +%Y-%m-%dT%H:%M:%S.000Z)
cat >"$dir/.latest.yml.tmp" <<END
version: ${BASH_REMATCH[1]}
files:
  - url: $url
    sha512: $sha512
    size: $(stat -c %s "$setup")
path: $url
sha512: $sha512
releaseDate: '$date'
END
"$tool" check "$dir/.latest.yml.tmp" "${config[@]}"
publish
