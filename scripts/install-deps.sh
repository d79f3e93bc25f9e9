#!/usr/bin/env bash
# Installs the Debian 12 packages the build and the tests need, and those of
# each group named, only those that are missing (as root, or through sudo):
#
#   scripts/install-deps.sh [GROUP | PACKAGE]...
#
# The groups and the lists are in install_deps (scripts/lib.sh): windows,
# qt-source, window, windows-package, package, fuzz, bench.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh
install_deps "$@"
