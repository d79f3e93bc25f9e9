#!/usr/bin/env bash
# Installs the Debian 12 packages the build and the tests need, only those
# that are missing (as root, or through sudo).
set -euo pipefail

# libcli11-dev and nlohmann-json3-dev: kronex-update's arguments and JSON (header-only);
# gettext: its message catalogue; python3-jsonschema: its JSON checked against docs/schema.
packages=(cmake ninja-build g++ qt6-base-dev fonts-liberation libgtest-dev
  libcli11-dev nlohmann-json3-dev gettext python3-jsonschema "$@")

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
echo "Installing: ${missing[*]}"
"${as_root[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
