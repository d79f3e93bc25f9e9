#!/usr/bin/env bash
# Configures (CMake preset "default") and builds the project in
# ${BUILD_DIR:-build}; BUILD_TYPE, when set, replaces the preset's
# RelWithDebInfo. Arguments go to the configure step (-D options).
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${BUILD_DIR:-build}
cmake --preset default -B "$build_dir" ${BUILD_TYPE:+-DCMAKE_BUILD_TYPE="$BUILD_TYPE"} "$@" >/dev/null
cmake --build "$build_dir"
