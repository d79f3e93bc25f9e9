# shellcheck shell=bash
# Sourced by the packaging checks: a throw-away code-signing certificate and
# a throw-away RFC 3161 time-stamp server on this machine, so that the whole
# signing path, time-stamp included, is proven before a real certificate
# exists. `test_signing DIR` makes both in DIR and exports what
# scripts/sign-windows.sh reads (KRONEX_SIGN_CERT, KRONEX_SIGN_KEY,
# KRONEX_SIGN_TIMESTAMP) and what the checks verify against (KRONEX_SIGN_CA,
# KRONEX_SIGN_TSA_CA). `test_signing_stop` ends the server.
TEST_TSA_PID=
test_signing() {
  local dir=$1
  mkdir -p "$dir"
  export KRONEX_SIGN_CERT=$dir/test-signing-cert.pem KRONEX_SIGN_KEY=$dir/test-signing-key.pem
  openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=KRONEX test signing/O=KRONEX" \
    -addext extendedKeyUsage=codeSigning -keyout "$KRONEX_SIGN_KEY" -out "$KRONEX_SIGN_CERT" 2>/dev/null
  export KRONEX_SIGN_CA=$KRONEX_SIGN_CERT
  # A time-stamping authority's certificate must say so, as critical.
  export KRONEX_SIGN_TSA_CA=$dir/test-tsa-cert.pem
  openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=KRONEX test time-stamps/O=KRONEX" \
    -addext extendedKeyUsage=critical,timeStamping -keyout "$dir/test-tsa-key.pem" \
    -out "$KRONEX_SIGN_TSA_CA" 2>/dev/null
  echo 01 >"$dir/test-tsa-serial"
  cat >"$dir/test-tsa.cnf" <<CONF
[ tsa ]
default_tsa = tsa_config
[ tsa_config ]
serial = $dir/test-tsa-serial
crypto_device = builtin
signer_digest = sha256
default_policy = 1.3.6.1.4.1.4146.2.3
digests = sha256, sha384, sha512
accuracy = secs:1
ordering = yes
tsa_name = no
ess_cert_id_chain = no
ess_cert_id_alg = sha256
CONF
  python3 "$(dirname "${BASH_SOURCE[0]}")/test-timestamp-server.py" "$dir/test-tsa.cnf" \
    "$KRONEX_SIGN_TSA_CA" "$dir/test-tsa-key.pem" >"$dir/test-tsa-url" &
  TEST_TSA_PID=$!
  for _ in $(seq 50); do [ -s "$dir/test-tsa-url" ] && break; sleep 0.1; done
  KRONEX_SIGN_TIMESTAMP=$(head -n 1 "$dir/test-tsa-url")
  [ -n "$KRONEX_SIGN_TIMESTAMP" ] || { echo "the test time-stamp server did not start" >&2; return 1; }
  export KRONEX_SIGN_TIMESTAMP
}
test_signing_stop() {
  [ -z "$TEST_TSA_PID" ] || kill "$TEST_TSA_PID" 2>/dev/null || true
  TEST_TSA_PID=
}
