#!/usr/bin/env bash
# Checks the Authenticode signatures of the built demo files on the host with
# osslsigncode against the test root: every good file must verify and be signed by
# the demo publisher (leaf certificate pinned by its SHA-256); each negative fixture
# must fail that check for its own reason.
#
#   check-signatures.sh PKI_DIR DEMO_DIR VERSION...
set -uo pipefail

pki=$1 demo=$2
shift 2
root="$pki/root-ca.pem"
demo_leaf=$(awk '$1 == "demo-publisher.pem" { print $2 }' "$pki/fingerprints.txt")
other_leaf=$(awk '$1 == "other-publisher.pem" { print $2 }' "$pki/fingerprints.txt")
failures=0 passed=0

check() {  # check <description> <command...>: the command must succeed
  local what=$1
  shift
  if "$@" >/dev/null 2>&1; then
    passed=$((passed + 1))
  else
    failures=$((failures + 1))
    echo "FAIL: $what"
  fi
}
refuse() {  # refuse <description> <command...>: the command must fail
  local what=$1
  shift
  if "$@" >/dev/null 2>&1; then
    failures=$((failures + 1))
    echo "FAIL: $what (it succeeded)"
  else
    passed=$((passed + 1))
  fi
}
verify() {  # verify <file> [leaf sha256]
  local pin=()
  if [ -n "${2:-}" ]; then pin=(-require-leaf-hash "sha256:$2"); fi
  osslsigncode verify -CAfile "$root" "${pin[@]}" -in "$1"
}
has_signature() {  # osslsigncode refuses to write over a file: give it a fresh name
  local dir
  dir=$(mktemp -d)
  osslsigncode extract-signature -in "$1" -out "$dir/signature.der" && [ -s "$dir/signature.der" ]
  local code=$?
  rm -rf "$dir"
  return $code
}
says() {  # says <text> <command...>: the command's output contains the text
  local text=$1 output
  shift
  output=$("$@" 2>&1)
  grep -qF -- "$text" <<<"$output"
}

if [ ${#demo_leaf} -ne 64 ] || [ ${#other_leaf} -ne 64 ]; then
  echo "FAIL: no publisher fingerprints in $pki/fingerprints.txt"
  exit 1
fi

for version in "$@"; do
  for file in "$demo/$version/Tavro.exe" "$demo/$version/Tavro-Setup-$version.exe" \
              "$demo/$version/channel/desktop/win/Tavro-Setup-$version.exe"; do
    check "$file verifies as the demo publisher's" verify "$file" "$demo_leaf"
  done
done

fixtures="$demo/fixtures"
for name in Tavro.exe Tavro-Setup-1.0.0.exe; do
  refuse "unsigned/$name verifies" verify "$fixtures/unsigned/$name"
  refuse "unsigned/$name carries a signature" has_signature "$fixtures/unsigned/$name"

  # A valid signature, only by a publisher that is not the demo one.
  refuse "other-publisher/$name verifies as the demo publisher's" verify "$fixtures/other-publisher/$name" "$demo_leaf"
  check "other-publisher/$name is refused for its leaf certificate" \
    says "Leaf hash match: failed" verify "$fixtures/other-publisher/$name" "$demo_leaf"
  check "other-publisher/$name verifies as the other publisher's" verify "$fixtures/other-publisher/$name" "$other_leaf"

  # The signature is still there; only the image digest no longer matches.
  refuse "tampered/$name verifies" verify "$fixtures/tampered/$name"
  refuse "tampered/$name verifies as the demo publisher's" verify "$fixtures/tampered/$name" "$demo_leaf"
  check "tampered/$name still carries a signature" has_signature "$fixtures/tampered/$name"
  check "tampered/$name is refused for its digest" says "MISMATCH" verify "$fixtures/tampered/$name"
  check "tampered/$name differs from the signed file in exactly one byte" \
    test "$(cmp -l "$demo/1.0.0/$name" "$fixtures/tampered/$name" | wc -l)" -eq 1
done

echo "$passed passed, $failures failed"
[ "$failures" -eq 0 ]
