#!/usr/bin/env bash
# Signs Windows programs in place (Authenticode, SHA-256) with osslsigncode,
# when a certificate and key are given; without them it does nothing, so an
# unsigned build stays possible. Packaging runs it on both programs, the
# uninstaller and the installer (cmake/signing-windows.cmake).
#
#   KRONEX_SIGN_CERT       the code-signing certificate, PEM, with its chain
#   KRONEX_SIGN_KEY        its private key, PEM
#   KRONEX_SIGN_PASS_FILE  a file holding the key's password, if it has one
#   KRONEX_SIGN_TIMESTAMP  an RFC 3161 time-stamp server's URL: the signature
#                          then stays valid after the certificate expires
set -euo pipefail
if [ -z "${KRONEX_SIGN_CERT:-}" ] || [ -z "${KRONEX_SIGN_KEY:-}" ]; then
  exit 0
fi
args=(sign -h sha256 -certs "$KRONEX_SIGN_CERT" -key "$KRONEX_SIGN_KEY"
  -n "Atualização KRONEX")
[ -z "${KRONEX_SIGN_PASS_FILE:-}" ] || args+=(-readpass "$KRONEX_SIGN_PASS_FILE")
[ -z "${KRONEX_SIGN_TIMESTAMP:-}" ] || args+=(-ts "$KRONEX_SIGN_TIMESTAMP")
for file in "$@"; do
  rm -f "$file.signed"
  osslsigncode "${args[@]}" -in "$file" -out "$file.signed" >/dev/null ||
    { echo "sign-windows: could not sign $file" >&2; rm -f "$file.signed"; exit 1; }
  mv "$file.signed" "$file"
  echo "sign-windows: signed $file" >&2
done
