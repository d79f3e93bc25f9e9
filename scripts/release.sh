#!/usr/bin/env bash
# From a release file to what is shipped, in one command:
#
#   scripts/release.sh RELEASE_FILE [--out DIR] [--previous INSTALLER] [--no-suite]
#
#  1. the release checked by the build step's own rules (kronex-release-embed,
#     built for this machine in build-windows/host): a broken release stops
#     here with file:line: entry: rule;
#  2. the Linux build with it in BUILD_DIR (default build-release) and the
#     whole suite there (--no-suite leaves the suite out where it has just run
#     in that folder with that release, as in CI after scripts/test.sh);
#  3. the Windows build with it and its tests under wine
#     (scripts/windows-tests.sh);
#  4. the Windows installer and ZIP, tried under wine
#     (scripts/windows-package.sh, given --previous when there is one);
#  5. the Debian package, tried and installed, with a whole update by the
#     installed programs (scripts/package.sh);
#  6. DIR (default dist, emptied first): the installer, the ZIP, the .deb,
#     SHA256SUMS and RELEASE-NOTE.md.
# Any failing step stops the run.
set -euo pipefail

usage() {
  echo "usage: $0 RELEASE_FILE [--out DIR] [--previous INSTALLER] [--no-suite]" >&2
  exit 64
}
release='' out=dist previous='' suite=1
while [ $# -gt 0 ]; do
  case $1 in
  --out) [ $# -ge 2 ] || usage; out=$2; shift 2 ;;
  --previous) [ $# -ge 2 ] || usage; previous=$2; shift 2 ;;
  --no-suite) suite=0; shift ;;
  -*) usage ;;
  *) [ -z "$release" ] || usage; release=$1; shift ;;
  esac
done
[ -n "$release" ] || usage
# Paths as the caller gave them, before moving to the checkout.
release=$(realpath -e "$release") || { echo "release: no file $release" >&2; exit 1; }
out=$(realpath -m "$out")
if [ -n "$previous" ]; then
  previous=$(realpath -e "$previous") || { echo "release: no installer $previous" >&2; exit 1; }
fi
cd "$(dirname "$0")/.."
. scripts/lib.sh
root=$PWD
build=$(realpath -m "${BUILD_DIR:-build-release}")
# DIR is emptied: never the checkout, nor a folder of it that git keeps.
case "$root/" in "$out/"*) echo "release: --out $out would empty the checkout" >&2; exit 1 ;; esac
if [ -n "$(git ls-files -- "$out" 2>/dev/null | head -n 1)" ]; then
  echo "release: --out $out holds files of the checkout" >&2
  exit 1
fi

# Each step announced, then its time and the total; a failing one stops the
# run, named with its time.
STEP_PREFIX=release STEP_ANNOUNCE=1 STEP_START=$SECONDS
host="build-windows/host"

check_release() {
  cmake --preset release -B "$host" -DKRONEX_BUILD_GUI=OFF -DKRONEX_BUILD_TESTS=ON \
    -DKRONEX_RELEASE_FILE="$release" >/dev/null
  cmake --build "$host" --target kronex-release-embed >/dev/null
  summary=$("$host/catalog/kronex-release-embed" --summary "$release")
  head -n 3 <<<"$summary"
}
step "checking the release $release" check_release

linux_build() {
  BUILD_DIR=$build scripts/build.sh -DKRONEX_RELEASE_FILE="$release"
  if [ "$suite" -eq 1 ]; then
    ctest --test-dir "$build" --output-on-failure -j "$(nproc)" -LE matrix >"$build/release-suite.log" ||
      { cat "$build/release-suite.log"; exit 1; }
    tail -n 3 "$build/release-suite.log"
  else
    echo "(the suite left out: --no-suite)"
  fi
}
step "the Linux build and its suite in $build" linux_build

export KRONEX_RELEASE_FILE=$release
step "the Windows build and its tests under wine" scripts/windows-tests.sh

windows_packages() {
  scripts/windows-package.sh ${previous:+--previous "$previous"}
  # The name cpack gives them; the version's when the build names none.
  name=$(sed -n 's/^set(CPACK_PACKAGE_FILE_NAME "\(.*\)")$/\1/p' build-windows/CPackConfig.cmake)
  [ -n "$name" ] ||
    name=kronex-atu-$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build-windows/CMakeCache.txt)-win64
}
step "the Windows installer and ZIP" windows_packages

debian_package() {
  KRONEX_E2E_CHECK=$build/tests/e2e/kronex-e2e-check scripts/package.sh
  deb=$(echo build-package/kronex-atu_*.deb)
}
step "the Debian package" debian_package

downloads() {
  rm -rf "$out"
  mkdir -p "$out"
  cp "build-windows/packages/$name.exe" "build-windows/packages/$name.zip" "$deb" "$out/"
  version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
  commit=$(git rev-parse HEAD)
  [ -z "$(git status --porcelain --untracked-files=no)" ] || commit="$commit (com alterações não registradas)"
  files=("$name.exe" "$name.zip" "$(basename "$deb")")
  (cd "$out" && sha256sum "${files[@]}" >SHA256SUMS)
  scripts/release-note.sh "$summary" "$version" "$commit" "$out" "${files[@]}" >"$out/RELEASE-NOTE.md"
  if ! (cd "$out" && sha256sum --quiet -c SHA256SUMS); then
    echo "SHA256SUMS does not verify" >&2
    exit 1
  fi
  echo "SHA256SUMS verified"
}
step "the downloads in $out" downloads

echo
echo "== release: PASSED in $((SECONDS - STEP_START)) s; the downloads are in $out:"
(cd "$out" && stat -c $'  %s\t%n' "${files[@]}" SHA256SUMS RELEASE-NOTE.md)
echo
echo "$summary"
