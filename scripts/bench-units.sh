#!/usr/bin/env bash
# Whole paced updates of 1, 2 and 4 simulated units at once from one
# kronex-update command; prints the table docs/PERFORMANCE.md records.
#   scripts/bench-units.sh [--smoke] [--runs R]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
build_dir=${BUILD_DIR:-build-bench}
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-Release}" >/dev/null
cmake --build "$build_dir" --target kronex-bench-units
exec "$build_dir/bench/kronex-bench-units" "$@"
