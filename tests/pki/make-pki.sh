#!/usr/bin/env bash
# Regenerates the test PKI in this folder with openssl alone: a root CA, a TLS
# server certificate for the loopback HTTPS server, and two code-signing
# publishers. The output is committed; builds never run this. Regenerating
# changes every key and fingerprint, so it also rewrites the signer
# fingerprint line of config/demo.json to the new demo publisher.
#
#   tests/pki/make-pki.sh --force
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo=$(cd "$here/../.." && pwd)

if [ "${1:-}" != "--force" ] && [ -e "$here/root-ca.pem" ]; then
  echo "make-pki.sh: the test PKI exists; pass --force to replace every key and certificate" >&2
  exit 2
fi

# Root 20 years; leaves end a little earlier so that no leaf outlives its issuer.
root_days=7300
leaf_days=7200

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

# Our own configs throughout, so that the system openssl.cnf adds no extension.
cat >root-req.cnf <<'END'
[req]
distinguished_name = dn
x509_extensions = root
prompt = no
[dn]
[root]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
END

cat >leaf-req.cnf <<'END'
[req]
distinguished_name = dn
prompt = no
[dn]
END

cat >ext.cnf <<'END'
[server]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature, keyEncipherment
extendedKeyUsage = serverAuth
# Wine matches a host only against DNS names, so the address is listed as one too.
subjectAltName = DNS:localhost, DNS:127.0.0.1, IP:127.0.0.1
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid

[codesign]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = codeSigning
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
END

new_key() { # file bits
  openssl genpkey -quiet -algorithm RSA -pkeyopt "rsa_keygen_bits:$2" -out "$1"
}

# A positive 128-bit serial (first hex digit below 8).
serial() { echo "0x$(openssl rand -hex 16 | sed 's/^./4/')"; }

new_key root-ca.TEST-KEY.pem 3072
openssl req -new -x509 -sha256 -config root-req.cnf -key root-ca.TEST-KEY.pem \
  -days "$root_days" -subj "/O=Tavro Test/CN=Tavro Test Root CA" -set_serial "$(serial)" \
  -out root-ca.pem

issue() { # name subject extension-section verify-purpose
  new_key "$1.TEST-KEY.pem" 2048
  openssl req -new -sha256 -config leaf-req.cnf -key "$1.TEST-KEY.pem" -subj "$2" -out "$1.csr"
  openssl x509 -req -sha256 -in "$1.csr" -CA root-ca.pem -CAkey root-ca.TEST-KEY.pem \
    -set_serial "$(serial)" -days "$leaf_days" -extfile ext.cnf -extensions "$3" \
    -out "$1.pem" 2>/dev/null
  openssl verify -x509_strict -CAfile root-ca.pem -purpose "$4" "$1.pem" >/dev/null
}

issue localhost "/O=Tavro Test/CN=localhost" server sslserver
issue demo-publisher "/O=Tavro Test/CN=Tavro Demo Publisher" codesign any
issue other-publisher "/O=Tavro Test/CN=Other Test Publisher" codesign any

# osslsigncode takes the signer's chain as one PEM file: leaf first, then root.
for p in demo-publisher other-publisher; do
  cat "$p.pem" root-ca.pem >"$p-chain.pem"
done

# SHA-256 over the DER encoding: what Windows shows as the SHA-256 thumbprint.
fingerprint() {
  openssl x509 -in "$1" -outform DER | sha256sum | cut -d' ' -f1
}
for c in root-ca.pem localhost.pem demo-publisher.pem other-publisher.pem; do
  echo "$c $(fingerprint "$c")"
done >fingerprints.txt

cp root-ca.pem root-ca.TEST-KEY.pem \
   localhost.pem localhost.TEST-KEY.pem \
   demo-publisher.pem demo-publisher.TEST-KEY.pem demo-publisher-chain.pem \
   other-publisher.pem other-publisher.TEST-KEY.pem other-publisher-chain.pem \
   fingerprints.txt "$here/"
chmod 0644 "$here"/*.pem "$here/fingerprints.txt"

demo=$(fingerprint demo-publisher.pem)
config="$repo/config/demo.json"
if [ -f "$config" ]; then
  sed -i -E "s/(\"windowsSignerSHA256\": *\[)\"[0-9a-f]*\"\]/\1\"$demo\"]/" "$config"
  grep -q "\"$demo\"" "$config" ||
    { echo "make-pki.sh: could not put the new fingerprint into $config" >&2; exit 1; }
fi

cat "$here/fingerprints.txt"
