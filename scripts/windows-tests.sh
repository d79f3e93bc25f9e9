#!/usr/bin/env bash
# Cross-builds for Windows and runs its tests under wine64, headless: the
# GoogleTest programs and the sampled fault matrix, through ctest (the
# toolchain makes wine the emulator; `ctest --preset windows` names the
# prefix). The log of the run in build-windows/test-logs.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh
scripts/windows-build.sh
use_wine

logs=build-windows/test-logs
mkdir -p "$logs"
timeout 1800 ctest --preset windows --output-log "$logs/ctest.log"
