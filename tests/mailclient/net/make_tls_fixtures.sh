#!/bin/sh
# Writes tls_fixtures.inc: a test CA and server certificates for host names
# that do not resolve here (wildcards, several labels), as C++ string
# literals for tls_verify_test.cpp. Valid for a century, so the committed
# file does not go stale; run again to renew it.
set -eu
out=$(cd "$(dirname "$0")" && pwd)/tls_fixtures.inc
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
key="-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes"
openssl req -x509 $key -keyout ca.key -out ca.pem -days 36500 -subj "/CN=postrine fixture CA" \
  -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign 2>/dev/null
{
  echo "// Made by make_tls_fixtures.sh; do not edit."
  printf 'constexpr char kFixtureCa[] = R"(%s\n)";\n' "$(cat ca.pem)"
  for pair in Wildcard:DNS:*.example.test PartialWildcard:DNS:m*.example.test \
              Exact:DNS:mail.example.test; do
    name=${pair%%:*}
    printf 'subjectAltName=%s\nextendedKeyUsage=serverAuth\n' "${pair#*:}" > ext
    openssl req $key -keyout leaf.key -out leaf.csr -subj /CN=server 2>/dev/null
    openssl x509 -req -in leaf.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 36500 \
      -extfile ext -out leaf.pem 2>/dev/null
    printf 'constexpr char kFixture%s[] = R"(%s\n)";\n' "$name" "$(cat leaf.pem)"
  done
} > "$out"
