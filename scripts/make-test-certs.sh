#!/usr/bin/env bash
# Generates the TLS test certificates into tests/data/tls/ (or the folder
# given as the first argument). The outputs are kept in the repository; run
# this again only to replace them.
#
#   ca.crt/ca.key                  test CA (trusted by the tests through SSL_CERT_FILE)
#   server.crt/server.key          signed by the test CA, SAN DNS:localhost, IP:127.0.0.1
#   other-ca.crt/other-ca.key      a second CA nobody trusts
#   impostor.crt/impostor.key      signed by other-ca, same SAN as server.crt
#   selfsigned.crt/selfsigned.key  self-signed, same SAN as server.crt
#   wronghost.crt/wronghost.key    signed by the test CA, SAN DNS:mail.example.invalid only
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
out="${1:-$here/../tests/data/tls}"
mkdir -p "$out"
cd "$out"

days=36500 # 100 years: the tests must not start failing on their own
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

newkey() { openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out "$1" 2>/dev/null; }

# make_ca NAME "SUBJECT"
make_ca() {
  newkey "$1.key"
  openssl req -x509 -new -key "$1.key" -sha256 -days "$days" -subj "$2" \
    -addext "basicConstraints=critical,CA:TRUE" \
    -addext "keyUsage=critical,keyCertSign,cRLSign" \
    -addext "subjectKeyIdentifier=hash" \
    -out "$1.crt"
}

# make_leaf NAME CA "SUBJECT" "SAN"
make_leaf() {
  newkey "$1.key"
  openssl req -new -key "$1.key" -subj "$3" -out "$work/$1.csr"
  cat >"$work/$1.ext" <<EXT
basicConstraints=critical,CA:FALSE
keyUsage=critical,digitalSignature,keyEncipherment
extendedKeyUsage=serverAuth
subjectAltName=$4
subjectKeyIdentifier=hash
authorityKeyIdentifier=keyid
EXT
  openssl x509 -req -in "$work/$1.csr" -CA "$2.crt" -CAkey "$2.key" -set_serial "0x$(openssl rand -hex 16)" \
    -sha256 -days "$days" -extfile "$work/$1.ext" -out "$1.crt" 2>/dev/null
}

san_local="DNS:localhost,IP:127.0.0.1"

make_ca ca "/O=Tavlo Tests/CN=Tavlo Test CA"
make_leaf server ca "/O=Tavlo Tests/CN=localhost" "$san_local"

make_ca other-ca "/O=Tavlo Tests/CN=Tavlo Untrusted CA"
make_leaf impostor other-ca "/O=Tavlo Tests/CN=localhost" "$san_local"

newkey selfsigned.key
openssl req -x509 -new -key selfsigned.key -sha256 -days "$days" -subj "/O=Tavlo Tests/CN=localhost" \
  -addext "basicConstraints=critical,CA:FALSE" \
  -addext "subjectAltName=$san_local" \
  -out selfsigned.crt

make_leaf wronghost ca "/O=Tavlo Tests/CN=mail.example.invalid" "DNS:mail.example.invalid"

chmod 644 ./*.crt ./*.key # test keys, deliberately public

openssl verify -CAfile ca.crt server.crt wronghost.crt >/dev/null
openssl verify -CAfile other-ca.crt impostor.crt >/dev/null
echo "test certificates written to $(pwd)"
