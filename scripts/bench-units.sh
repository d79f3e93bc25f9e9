#!/usr/bin/env bash
# Whole paced updates of 1, 2 and 4 simulated units at once from one
# kronex-update command; prints the table docs/PERFORMANCE.md records.
#   scripts/bench-units.sh [--smoke] [--runs R]
# BUILD_DIR (default build-bench) and BUILD_TYPE (default Release) choose the
# build, as for scripts/bench.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh
install_deps
build_dir=${BUILD_DIR:-build-bench}
cmake --preset bench -B "$build_dir" ${BUILD_TYPE:+-DCMAKE_BUILD_TYPE="$BUILD_TYPE"} >/dev/null
cmake --build "$build_dir" --target kronex-bench-units
exec "$build_dir/bench/kronex-bench-units" "$@"
