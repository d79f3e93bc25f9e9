#!/usr/bin/env bash
# Qt 6.4.2 for Windows (x86_64, mingw-w64, shared DLLs): the smallest Qt the
# window needs, in a cache folder, reused once there. Prints the Qt prefix
# (the folder holding lib/cmake/Qt6) as the last line on stdout.
#
#   scripts/qt-windows.sh                 unpack KRONEX_QT_WIN_ARCHIVE if set,
#                                         otherwise build from Debian's source
#   scripts/qt-windows.sh --from-source   build from source even with an archive
#   scripts/qt-windows.sh --if-available  only reuse or unpack, never build;
#                                         fails if there is no Qt that way
#
# Environment:
#   KRONEX_QT_WIN_CACHE    cache folder (default ~/.cache/kronex/qt-6.4.2-win64);
#                          the prefix is <cache>/qt6-win64
#   KRONEX_QT_WIN_ARCHIVE  a .tar.xz of such a prefix (unpacking to qt6-win64/)
#   KRONEX_QT_WIN_SHA256   its SHA-256 (default: the one pinned below, of the
#                          archive the project builds with; set it to use an
#                          archive of your own build)
#
# From source: Debian's qt6-base source package of the host Qt's version
# (through a deb-src entry for the machine's own suite), cross-built with the
# host Qt as the host tools; about 15 minutes on 2 cores. Messages go to
# stderr, the build's output to <cache>/qt-build.log.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD

mode=auto
case ${1:-} in
--from-source) mode=source ;;
--if-available) mode=available ;;
"") ;;
*)
  echo "usage: $0 [--from-source | --if-available]" >&2
  exit 2
  ;;
esac

cache=${KRONEX_QT_WIN_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/kronex/qt-6.4.2-win64}
prefix=$cache/qt6-win64
stamp=$prefix/.kronex-qt-stamp
say() { echo "qt-windows: $*" >&2; }

# The SHA-256 of qt6.4.2-win64.tar.xz, the archive the project builds with:
# kept here rather than trusted from a file that travels with the archive.
pinned_sha=19fe5fc2682bf218b11a2a41d197df03823b4e7addefee566bf6cb6fe15c3e5f

archive=${KRONEX_QT_WIN_ARCHIVE:-}
[ "$mode" = source ] && archive=
want_sha=
if [ -n "$archive" ]; then
  [ -f "$archive" ] || { say "no archive at $archive"; exit 1; }
  want_sha=${KRONEX_QT_WIN_SHA256:-$pinned_sha}
  # A hash file beside the archive must agree, or one of the two is stale.
  beside=$(cut -d' ' -f1 "$archive.sha256" 2>/dev/null || true)
  if [ -n "$beside" ] && [ "$beside" != "$want_sha" ]; then
    say "$archive.sha256 says $beside, but the expected SHA-256 is $want_sha"
    exit 1
  fi
fi

# What is there already: any complete prefix serves, unless an archive with
# another checksum is asked for.
if [ -f "$stamp" ] && [ -f "$prefix/lib/cmake/Qt6/qt.toolchain.cmake" ]; then
  if [ -z "$want_sha" ] || grep -qx "archive $want_sha" "$stamp"; then
    echo "$prefix"
    exit 0
  fi
fi

if [ -n "$archive" ]; then
  say "checking $archive"
  echo "$want_sha  $archive" | sha256sum --quiet -c - >&2 || { say "SHA-256 mismatch: $archive"; exit 1; }
  rm -rf "$prefix" "$cache/unpack"
  mkdir -p "$cache/unpack"
  tar -xJf "$archive" -C "$cache/unpack"
  [ -f "$cache/unpack/qt6-win64/lib/cmake/Qt6/qt.toolchain.cmake" ] ||
    { say "$archive does not unpack to qt6-win64/ with lib/cmake/Qt6"; exit 1; }
  mv "$cache/unpack/qt6-win64" "$prefix"
  rmdir "$cache/unpack"
  echo "archive $want_sha" >"$stamp"
  say "unpacked into $prefix"
  echo "$prefix"
  exit 0
fi
if [ "$mode" = available ]; then
  say "no Qt for Windows in $prefix and no KRONEX_QT_WIN_ARCHIVE (scripts/qt-windows.sh builds one)"
  exit 1
fi

# --- From source ---
scripts/install-deps.sh windows qt-source >&2
as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
version=$(dpkg-query -W -f='${Version}' qt6-base-dev)

src_root=$cache/source
if [ ! -d "$src_root/qtbase" ]; then
  if ! apt-cache showsrc qt6-base 2>/dev/null | grep -q '^Package: qt6-base'; then
    # A deb-src twin of the machine's own Debian entries.
    list=/etc/apt/sources.list.d/debian.sources
    [ -f "$list" ] || { say "no $list to take the deb-src entry from"; exit 1; }
    say "adding deb-src entries (kronex-deb-src.sources)"
    sed 's/^Types: deb$/Types: deb-src/' "$list" |
      "${as_root[@]}" tee /etc/apt/sources.list.d/kronex-deb-src.sources >/dev/null
    "${as_root[@]}" apt-get update -qq >&2
  fi
  rm -rf "$src_root"
  mkdir -p "$src_root"
  say "fetching qt6-base $version source"
  (cd "$src_root" && apt-get source -qq "qt6-base=$version" >&2)
  dir=$(find "$src_root" -maxdepth 1 -mindepth 1 -type d -name 'qt6-base-*' | head -n 1)
  [ -n "$dir" ] || { say "apt-get source left no qt6-base folder"; exit 1; }
  mv "$dir" "$src_root/qtbase"
fi
src=$src_root/qtbase

build=$cache/build
rm -rf "$build" "$prefix"
mkdir -p "$build"
toolchain=$repo/cmake/toolchain-mingw-w64-qt.cmake
map="-ffile-prefix-map=$src=qtbase -ffile-prefix-map=$build=build"
log=$cache/qt-build.log
say "configuring, building and installing (log: $log)"
start=$SECONDS
{
  cd "$build"
  # tabletevent: Debian's tarball has no wintab. direct2d1_1: only the
  # direct2d platform plugin goes; direct2d itself carries the DirectWrite
  # font database.
  "$src/configure" -prefix "$prefix" -xplatform win32-g++ -qt-host-path /usr -shared -release \
    -nomake examples -nomake tests -no-opengl -no-dbus -no-icu -no-glib -no-zstd \
    -no-pkg-config -no-libjpeg -qt-zlib -qt-libpng -qt-freetype -qt-harfbuzz -qt-pcre \
    -qt-doubleconversion -no-feature-network -no-feature-sql -no-feature-xml \
    -no-feature-concurrent -no-feature-printsupport -no-feature-vulkan \
    -no-feature-tabletevent -no-feature-androiddeployqt -no-feature-direct2d1_1 -- \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DCMAKE_C_FLAGS="$map" -DCMAKE_CXX_FLAGS="$map"
  cmake --build . --parallel "${KRONEX_QT_WIN_JOBS:-2}"
  cmake --install .
} >"$log" 2>&1 || {
  tail -n 40 "$log" >&2
  say "the Qt build failed (log: $log)"
  exit 1
}
# Relocatable: qt.toolchain.cmake loads the toolchain copied beside it
# instead of naming this checkout's file.
cp "$toolchain" "$prefix/lib/cmake/mingw64-toolchain.cmake"
# shellcheck disable=SC2016 # CMake's variable, written as it stands
sed -i 's|^set(__qt_initially_configured_toolchain_file .*|set(__qt_initially_configured_toolchain_file "${CMAKE_CURRENT_LIST_DIR}/../mingw64-toolchain.cmake")|' \
  "$prefix/lib/cmake/Qt6/qt.toolchain.cmake"
grep -q 'CMAKE_CURRENT_LIST_DIR}/../mingw64-toolchain.cmake' "$prefix/lib/cmake/Qt6/qt.toolchain.cmake" ||
  { say "could not point qt.toolchain.cmake at the copied toolchain"; exit 1; }
echo "source qt6-base $version" >"$stamp"
rm -rf "$build"
say "built from source in $((SECONDS - start)) s into $prefix"
echo "$prefix"
