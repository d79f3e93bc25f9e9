#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite. The full
# fault matrix (every fault at every exchange, a few minutes) is left to
# scripts/reliability.sh; a sample of it runs here. One job more than the
# cores: two tests spend most of a minute waiting on a silent unit.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh
ctest --test-dir "${BUILD_DIR:-build}" --output-on-failure -j "$(($(nproc) + 1))" -LE matrix
