#!/usr/bin/env bash
# A throwaway certificate authority and code-signing certificate, made offline with openssl:
#   make_code_signing_cert.sh OUTDIR
# OUTDIR gets ca.crt (the root to verify against), cs.crt and cs.key (the signer's certificate and
# private key, PEM).
set -euo pipefail
out=$1
mkdir -p "$out"
cd "$out"
openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.crt -days 3650 -subj "/CN=sfxstub test CA" \
  -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
openssl req -newkey rsa:2048 -nodes -keyout cs.key -out cs.csr -subj "/CN=sfxstub test signer" 2>/dev/null
printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n' >cs.ext
openssl x509 -req -in cs.csr -CA ca.crt -CAkey ca.key -CAcreateserial -out cs.crt -days 3650 \
  -extfile cs.ext 2>/dev/null
rm -f cs.csr cs.ext ca.srl
