#!/usr/bin/env bash
# tavro-release against the demo product and against the installer itself:
#   - feed accepts the signed setups and refuses each negative fixture with its own message;
#   - its Authenticode image digest equals osslsigncode's for every signed file;
#   - check gives the verdict of TavroInstaller.exe --verify-feed under Wine for every feed
#     of the feed tables, every demo channel and every feed it wrote here;
#   - check-installer accepts every installer build once signed by the demo publisher, and
#     refuses each fault a release could carry with its own message.
# Usage: release_channel_test.sh <tavro-release> <TavroInstaller.exe> <demo dir>
#                                <installer with untrusted offlineURL> <installer without a slide>
set -uo pipefail
tool=$1 installer=$2 demo=$3 untrusted=$4 without_slide=$5
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

# ---- check-installer: the installer signed by the demo publisher is what may ship for the
# demo configuration; each fault is refused with its own message, exit code 1.
pki="$here/../pki" config="$here/../../config/demo.json"
sign() {  # sign <in> <publisher> <out>
  rm -f "$3" && osslsigncode sign -certs "$pki/$2-chain.pem" -key "$pki/$2.TEST-KEY.pem" -h sha256 -n Tavro \
    -in "$1" -out "$3" >/dev/null
}
patched() {  # patched <in> <out> <python statement on d, the file's bytearray>
  python3 - "$@" <<'PY'
import struct, sys
d = bytearray(open(sys.argv[1], "rb").read())
def swap(old, new):  # one occurrence, the same length
    assert d.count(old) == 1 and len(old) == len(new), old
    d[d.index(old):d.index(old) + len(old)] = new
optional = struct.unpack_from("<I", d, 0x3C)[0] + 24
exec(sys.argv[3])
open(sys.argv[2], "wb").write(d)
PY
}
mkdir "$work/installer" && cd "$work/installer" || exit 1
sign "$installer" other-publisher other.exe
python3 "$here/../../demo/flip_code_byte.py" "$demo/installer/TavroInstaller.exe" changed.exe >/dev/null
sed 's|"offlineURL": "[^"]*"|"offlineURL": "https://localhost/offline"|' "$config" >other-offline.json
patched "$installer" import.tmp 'swap(b"SHLWAPI.dll", b"VERSION.dll")' && sign import.tmp demo-publisher import.exe
patched "$installer" admin.tmp 'swap(b'"'"'level="asInvoker" uiAccess="false"'"'"', b'"'"'level="requireAdministrator"      '"'"')' &&
  sign admin.tmp demo-publisher admin.exe
patched "$installer" no-load-config.tmp 'd[optional + 112 + 10 * 8:optional + 112 + 11 * 8] = bytes(8)' &&
  sign no-load-config.tmp demo-publisher no-load-config.exe
while IFS='|' read -r name file configuration code message; do
  output=$("$tool" check-installer "$file" --config "$configuration" 2>&1)
  check "check-installer $name: exit code" "$code" $?
  check "check-installer $name: message" yes "$(grep -qF -- "$message" <<<"$output" && echo yes || echo "no: $output")"
done <<END
signed|$demo/installer/TavroInstaller.exe|$config|0|accepted: $demo/installer/TavroInstaller.exe signed by $(awk '$1 == "demo-publisher.pem" { print $2 }' "$pki/fingerprints.txt"), runs as the invoker
signed: what runs before the program's code|$demo/installer/TavroInstaller.exe|$config|0|; delay-loads gdiplus.dll; 3 TLS callbacks (the runtime's)
unsigned build|$installer|$config|1|refused: Application signature or publisher mismatch: the file carries no Authenticode signature
signed by the other publisher|other.exe|$config|1|refused: Application signature or publisher mismatch: the signer certificate $(awk '$1 == "other-publisher.pem" { print $2 }' "$pki/fingerprints.txt") is not in windowsSignerSHA256
a byte changed after signing|changed.exe|$config|1|(the file changed after it was signed)
configuration differing in one member|$demo/installer/TavroInstaller.exe|other-offline.json|1|refused: the embedded configuration differs from the one given: "offlineURL": the installer has "https://127.0.0.1/", the configuration "https://localhost/offline"
manifest asking for elevation|admin.exe|$config|1|refused: the installer's manifest asks for requireAdministrator, not asInvoker
no load configuration|no-load-config.exe|$config|1|refused: load configuration: the image has no load configuration (data directory 10 is empty)
a new load-time import|import.exe|$config|1|refused: the installer imports version.dll at load time
missing file|missing.exe|$config|1|refused: cannot read missing.exe
END
cd - >/dev/null || exit 1
# Every build of the installer carries the load configuration (the post-link step's own check).
for image in "$installer" "$untrusted" "$without_slide"; do
  check "load configuration of $(basename "$image")" "280 bytes, DependentLoadFlags 0x800, already in place" \
    "$("$(dirname "$tool")/tavro-load-config" "$image" 2>&1 | sed 's/.*load configuration of //')"
done

# ---- the image digest equals osslsigncode's for every signed file. The tool reads only
# setups, so each file is looked at under a setup's name for its version.
for signed in 1.0.0/Tavro.exe 1.0.0/Tavro-Setup-1.0.0.exe 1.1.0/Tavro.exe 1.1.0/Tavro-Setup-1.1.0.exe \
              fixtures/tampered/Tavro.exe fixtures/tampered/Tavro-Setup-1.0.0.exe \
              fixtures/other-publisher/Tavro.exe fixtures/other-publisher/Tavro-Setup-1.0.0.exe \
              installer/TavroInstaller.exe; do
  version=1.0.0
  [[ $signed == 1.1.0/* ]] && version=1.1.0
  [[ $signed == installer/* ]] && version=1.0.1
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
