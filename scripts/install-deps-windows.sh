#!/usr/bin/env bash
# Installs the Debian 12 packages the Windows build and its runs under wine
# need, only those that are missing (as root, or through sudo): mingw-w64
# with posix threads, GoogleTest's sources for the target, wine64, and the
# host compiler and GoogleTest for the tools the cross build runs.
set -euo pipefail
exec "$(dirname "$0")/install-deps.sh" windows
