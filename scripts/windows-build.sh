#!/usr/bin/env bash
# Cross-builds the Windows programs and tests with mingw-w64 into
# build-windows/. The release step and the simulated unit run on this
# machine: they are built first, for it, in build-windows/host.
#
# The release built in is KRONEX_RELEASE_FILE (default the sample,
# catalog/data/release.txt), given to every configure so that the folder never
# keeps an earlier one unnoticed.
#
# The window kronex-atu.exe needs Qt for Windows (scripts/qt-windows.sh:
# already in its cache, or KRONEX_QT_WIN_ARCHIVE to unpack); without it the
# build stops at once. `cmake --install build-windows` lays out what a PC
# needs (packaging-windows). KRONEX_WINDOWS_WITHOUT_WINDOW=1 asks for
# everything but the window, for steps that need no window.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh
release=$(realpath -e "${KRONEX_RELEASE_FILE:-catalog/data/release.txt}") || {
  echo "windows-build: no release file ${KRONEX_RELEASE_FILE:-catalog/data/release.txt}" >&2
  exit 1
}
install_deps windows

# A second build of the shipped programs alone (scripts/reproducible.sh) names
# its folder, leaves the tests out and takes the release step of a host
# build already made.
out=${KRONEX_WINDOWS_BUILD_DIR:-build-windows}
tests=${KRONEX_WINDOWS_TESTS:-ON}
embed=${KRONEX_HOST_RELEASE_EMBED:-}
if [ -z "$embed" ]; then
  host=$out/host
  cmake --preset release -B "$host" -DKRONEX_BUILD_GUI=OFF -DKRONEX_BUILD_TESTS=ON \
    -DKRONEX_RELEASE_FILE="$release" >/dev/null
  cmake --build "$host" --target kronex-release-embed kronex-devsim kronex-e2e-check
  embed=$PWD/$host/catalog/kronex-release-embed
fi

# The preset "windows" builds the window with Qt for Windows in its default
# cache, whose toolchain file finds Qt's packages and chain-loads ours;
# another Qt, or none, names its toolchain here.
preset_toolchain=$HOME/.cache/kronex/qt-6.4.2-win64/qt6-win64/lib/cmake/Qt6/qt.toolchain.cmake
toolchain=$PWD/cmake/toolchain-mingw-w64.cmake
# Without the window, the preset's settings for Qt's toolchain go unused.
options=(-DKRONEX_BUILD_GUI=OFF --no-warn-unused-cli)
if [ "${KRONEX_WINDOWS_WITHOUT_WINDOW:-0}" = 1 ]; then
  echo "Without the window, as asked (KRONEX_WINDOWS_WITHOUT_WINDOW=1)"
elif qt=$(scripts/qt-windows.sh --if-available 2>/dev/null); then
  echo "Qt for Windows: $qt (the window is built too)"
  options=()
  toolchain=$qt/lib/cmake/Qt6/qt.toolchain.cmake
else
  echo "windows-build: no Qt for Windows, so no window: run scripts/qt-windows.sh," \
    "or KRONEX_QT_WIN_ARCHIVE=<archive of it> scripts/qt-windows.sh" \
    "(KRONEX_WINDOWS_WITHOUT_WINDOW=1 builds everything but the window)" >&2
  exit 1
fi
# A build folder keeps the toolchain it was first configured with, and the
# linker flags the toolchain once set (the run-time is now chosen per program).
if ! grep -qsx "CMAKE_TOOLCHAIN_FILE:[A-Z]*=$toolchain" "$out/CMakeCache.txt" ||
  grep -qs '^CMAKE_EXE_LINKER_FLAGS:STRING=-static' "$out/CMakeCache.txt"; then
  rm -rf "$out/CMakeCache.txt" "$out/CMakeFiles"
fi
[ "$toolchain" = "$preset_toolchain" ] || options+=(--toolchain "$toolchain")
cmake --preset windows -B "$out" "${options[@]}" -DKRONEX_BUILD_TESTS="$tests" \
  -DKRONEX_RELEASE_FILE="$release" -DKRONEX_HOST_RELEASE_EMBED="$embed" >/dev/null
echo "Release built in: $release"
cmake --build "$out"
