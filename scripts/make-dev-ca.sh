#!/usr/bin/env bash
# Creates a throwaway certificate authority and a server certificate for localhost / 127.0.0.1
# in the given directory, unless they are already there. Used by the build for the local stand-in.
set -euo pipefail
dir=${1:?usage: make-dev-ca.sh DIR}
mkdir -p "$dir"
cd "$dir"
if [ -s ca.pem ] && [ -s server.pem ] && [ -s server.key ] && [ -s other-ca.pem ]; then exit 0; fi
openssl req -x509 -newkey rsa:2048 -nodes -days 3650 -subj "/CN=Murlex Dev CA" \
  -keyout ca.key -out ca.pem >/dev/null 2>&1
openssl req -newkey rsa:2048 -nodes -subj "/CN=localhost" -keyout server.key -out server.csr >/dev/null 2>&1
cat > server.ext <<EXT
basicConstraints=CA:FALSE
keyUsage=digitalSignature,keyEncipherment
extendedKeyUsage=serverAuth
subjectAltName=DNS:localhost,IP:127.0.0.1
EXT
openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 3650 \
  -extfile server.ext -out server.pem >/dev/null 2>&1
# A second, unrelated authority: tests use it to prove that a server signed by anyone else is refused.
openssl req -x509 -newkey rsa:2048 -nodes -days 3650 -subj "/CN=Unrelated CA" \
  -keyout other-ca.key -out other-ca.pem >/dev/null 2>&1
rm -f server.csr server.ext
