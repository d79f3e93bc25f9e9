#!/usr/bin/env bash
# Cross-builds the Windows programs and tests (everything but the Qt window)
# with mingw-w64 into build-windows/. The release step and the simulated unit
# run on this machine: they are built first, for it, in build-windows/host.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps-windows.sh

out=build-windows
host=$out/host
cmake -S . -B "$host" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DKRONEX_BUILD_GUI=OFF -DKRONEX_BUILD_TESTS=ON >/dev/null
cmake --build "$host" --target kronex-release-embed kronex-devsim kronex-e2e-check

cmake -S . -B "$out" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  --toolchain cmake/toolchain-mingw-w64.cmake \
  -DKRONEX_BUILD_GUI=OFF -DKRONEX_HOST_RELEASE_EMBED="$host/catalog/kronex-release-embed" >/dev/null
cmake --build "$out"
