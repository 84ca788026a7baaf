#!/usr/bin/env bash
# Makes the certificates of the program folder's server/ folder:
#   root.crt   a fresh root; its key is thrown away after signing
#   https.crt  the server's certificate for 127.0.0.1 and localhost
#   https.key  the server's private key (mode 600)
# Usage: make-certs.sh <server folder>
# Prints no secret; nothing it writes belongs in the repository.
set -euo pipefail

if [ $# -ne 1 ]; then
  echo "usage: $0 <server folder>" >&2
  exit 2
fi
out=$1
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
umask 077

openssl req -x509 -new -newkey rsa:2048 -nodes -sha256 -days 3650 \
  -subj "/CN=Plenwick Local Root" \
  -addext "basicConstraints=critical,CA:TRUE" \
  -addext "keyUsage=critical,keyCertSign,cRLSign" \
  -keyout "$work/root.key" -out "$work/root.crt" 2>/dev/null

openssl req -new -newkey rsa:2048 -nodes -sha256 -subj "/CN=127.0.0.1" \
  -keyout "$work/https.key" -out "$work/https.csr" 2>/dev/null

cat > "$work/leaf.ext" <<'EXT'
basicConstraints=CA:FALSE
keyUsage=critical,digitalSignature,keyEncipherment
extendedKeyUsage=serverAuth
subjectAltName=IP:127.0.0.1,DNS:localhost
EXT

openssl x509 -req -in "$work/https.csr" -CA "$work/root.crt" -CAkey "$work/root.key" \
  -CAcreateserial -days 825 -sha256 -extfile "$work/leaf.ext" \
  -out "$work/https.crt" 2>/dev/null

install -m 644 "$work/root.crt" "$out/root.crt"
install -m 644 "$work/https.crt" "$out/https.crt"
install -m 600 "$work/https.key" "$out/https.key"
echo "certificates written to $out (root key discarded)"
