#!/usr/bin/env bash
# tavro-release against the demo product and against the installer itself:
#   - feed accepts the signed setups and refuses each negative fixture with its own message;
#   - its Authenticode image digest equals osslsigncode's for every signed file;
#   - check gives the verdict of TavroInstaller.exe --verify-feed under Wine for every feed
#     of the feed tables, every demo channel and every feed it wrote here.
# Usage: release_channel_test.sh <tavro-release> <TavroInstaller.exe> <demo dir>
set -uo pipefail
tool=$1 installer=$2 demo=$3
here=$(cd "$(dirname "$0")" && pwd)
run="$here/../../cmake/wine-run.sh"
work=$(mktemp -d "${TAVRO_BUILD_DIR:-/tmp}/release-channel.XXXXXX")
trap 'rm -rf "$work"' EXIT
failures=0 passed=0
check() {  # check <name> <expected> <actual>
  if [ "$2" = "$3" ]; then passed=$((passed + 1)); else failures=$((failures + 1)); echo "FAIL: $1: expected [$2], got [$3]"; fi
}
says() {  # says <text> <file>: "yes" when the file holds the text
  if grep -qF -- "$1" "$2"; then echo yes; else echo no; fi
}

# ---- feed: the signed setups are published, the written feeds go to the differential below
mkdir -p "$work/feeds" "$work/out"
for version in 1.0.0 1.1.0; do
  SOURCE_DATE_EPOCH=0 "$tool" feed "$demo/$version/Tavro-Setup-$version.exe" -o "$work/feeds/written-$version.yml" \
    2>"$work/out/$version.err"
  check "feed $version: exit code" 0 $?
  check "feed $version: version line" "version: $version" "$(head -1 "$work/feeds/written-$version.yml")"
  check "feed $version: digest of the file" \
    "    sha512: $(openssl dgst -sha512 -binary "$demo/$version/Tavro-Setup-$version.exe" | base64 -w0)" \
    "$(sed -n 4p "$work/feeds/written-$version.yml")"
  check "feed $version: release date" "releaseDate: '1970-01-01T00:00:00.000Z'" "$(tail -1 "$work/feeds/written-$version.yml")"
done
"$tool" feed "$demo/1.0.0/Tavro-Setup-1.0.0.exe" --url https://127.0.0.1/files/Tavro-Setup-1.0.0.exe \
  -o "$work/feeds/written-absolute.yml" 2>/dev/null
check "feed with an absolute URL: exit code" 0 $?

# ---- feed refuses what the installer would refuse, each with its message, and writes nothing
cp "$demo/1.0.0/Tavro-Setup-1.0.0.exe" "$work/Tavro-Setup-1.1.0.exe"
# The signer's signature value broken, the image digest left as it was: the last bytes of
# the PKCS#7 structure are the signature value.
mkdir "$work/broken" && python3 - "$demo/1.0.0/Tavro-Setup-1.0.0.exe" "$work/broken/Tavro-Setup-1.0.0.exe" <<'PY'
import struct, sys
d = bytearray(open(sys.argv[1], "rb").read())
optional = struct.unpack_from("<I", d, 0x3C)[0] + 24
entry = optional + (112 if struct.unpack_from("<H", d, optional)[0] == 0x20B else 96) + 4 * 8
table = struct.unpack_from("<I", d, entry)[0]
d[table + struct.unpack_from("<I", d, table)[0] - 20] ^= 0xFF
open(sys.argv[2], "wb").write(d)
PY
while IFS='|' read -r name file message; do
  rm -f "$work/out/refused.yml"
  # shellcheck disable=SC2086  # a row may carry options after the file
  "$tool" feed $file -o "$work/out/refused.yml" 2>"$work/out/refused.err"
  check "refuse $name: exit code" 1 $?
  check "refuse $name: message" yes "$(says "$message" "$work/out/refused.err")"
  check "refuse $name: nothing written" no "$([ -e "$work/out/refused.yml" ] && echo yes || echo no)"
done <<END
unsigned|$demo/fixtures/unsigned/Tavro-Setup-1.0.0.exe|refused: Application signature or publisher mismatch: the file carries no Authenticode signature
tampered|$demo/fixtures/tampered/Tavro-Setup-1.0.0.exe|(the file changed after it was signed)
other publisher|$demo/fixtures/other-publisher/Tavro-Setup-1.0.0.exe|the signer certificate $(awk '$1 == "other-publisher.pem" { print $2 }' "$here/../pki/fingerprints.txt") is not in windowsSignerSHA256
broken signature value|$work/broken/Tavro-Setup-1.0.0.exe|the signer's signature over the image digest does not verify
renamed to another version|$work/Tavro-Setup-1.1.0.exe|refused: Artifact version mismatch: the file name says 1.1.0, the package's version resource says 1.0.0
foreign host|$demo/1.0.0/Tavro-Setup-1.0.0.exe --url https://example.com/Tavro-Setup-1.0.0.exe|refused: Untrusted download host
END

# ---- the image digest equals osslsigncode's for every signed file. The tool reads only
# setups, so each file is looked at under a setup's name for its version.
for signed in 1.0.0/Tavro.exe 1.0.0/Tavro-Setup-1.0.0.exe 1.1.0/Tavro.exe 1.1.0/Tavro-Setup-1.1.0.exe \
              fixtures/tampered/Tavro.exe fixtures/tampered/Tavro-Setup-1.0.0.exe \
              fixtures/other-publisher/Tavro.exe fixtures/other-publisher/Tavro-Setup-1.0.0.exe; do
  version=1.0.0
  [[ $signed == 1.1.0/* ]] && version=1.1.0
  rm -rf "$work/digest" && mkdir "$work/digest"
  cp "$demo/$signed" "$work/digest/Tavro-Setup-$version.exe"
  ours=$("$tool" feed "$work/digest/Tavro-Setup-$version.exe" -o - 2>&1 >/dev/null |
         sed -n 's/.*image digest SHA256 \([0-9a-f]*\).*/\1/p' | head -1)
  theirs=$(osslsigncode verify -in "$demo/$signed" 2>/dev/null |
           sed -n 's/^Calculated message digest *: *\([0-9A-F]*\).*/\1/p' | head -1 | tr 'A-F' 'a-f')
  check "image digest of $signed is osslsigncode's" "$theirs" "${ours:-none}"
done

# ---- the differential: every feed through tavro-release check and the installer's feed check.
python3 "$here/differential_feeds.py" "$work/feeds" >/dev/null
for version in 1.0.0 1.1.0; do
  cp "$demo/$version/channel/desktop/win/latest.yml" "$work/feeds/demo-channel-$version.yml"
done
# One Wine session for all of them: a batch file prints each exit code.
batch="$work/verify.bat"
printf '@echo off\r\n' >"$batch"
for feed in "$work"/feeds/*.yml; do
  name=$(basename "$feed")
  printf '"Z:%s" --verify-feed "Z:%s"\r\necho %s=%%errorlevel%%\r\n' "${installer//\//\\}" "${feed//\//\\}" "$name" >>"$batch"
done
timeout 600 "$run" cmd /c "Z:${batch//\//\\}" 2>/dev/null | tr -d '\r' >"$work/installer-verdicts.txt"
count=0
for feed in "$work"/feeds/*.yml; do
  name=$(basename "$feed")
  "$tool" check "$feed" >/dev/null 2>&1
  ours=$?
  theirs=$(sed -n "s/^$name=//p" "$work/installer-verdicts.txt")
  check "verdict on $name" "${theirs:-none}" "$ours"
  count=$((count + 1))
done
check "the written and the demo channel feeds are accepted" "0 0 0 0 0" \
  "$(for f in written-1.0.0 written-1.1.0 written-absolute demo-channel-1.0.0 demo-channel-1.1.0; do
       sed -n "s/^$f.yml=//p" "$work/installer-verdicts.txt"; done | paste -sd' ')"
echo "differential: $count feeds"

echo "$passed passed, $failures failed"
[ "$failures" -eq 0 ]
