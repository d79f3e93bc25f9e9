#!/usr/bin/env bash
# Two builds of one commit give the same bytes: clones the commit checked
# out here into another folder (another path, another length), cross-builds
# the shipped Windows programs there (no tests; the release step of
# build-windows/host), packs the unsigned ZIP, and compares it, and each
# program and DLL in it, byte for byte with the unsigned ZIP packed from
# build-windows/ (scripts/windows-build.sh first). Same release as
# build-windows was built with.
#
#   scripts/reproducible.sh [--built] [FOLDER]   (default: a new folder under /tmp)
#
# --built: build-windows/ was just built at this commit (as in CI), so it is
# not configured and built again first.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh
root=$PWD
built=0
if [ "${1:-}" = --built ]; then
  built=1
  shift
fi
if [ -n "$(git status --porcelain --untracked-files=no)" ]; then
  echo "reproducible: uncommitted changes; the second build is of the commit alone: commit first" >&2
  exit 1
fi
if [ ! -f build-windows/CMakeCache.txt ] || [ ! -x build-windows/host/catalog/kronex-release-embed ]; then
  echo "reproducible: no build-windows/ to compare with: run scripts/windows-build.sh first" >&2
  exit 1
fi
release=$(sed -n 's/^KRONEX_RELEASE_FILE:[A-Z]*=//p' build-windows/CMakeCache.txt)
# build-windows/ configured again at this commit: the time written into the
# programs and the ZIP is the commit's, taken when the folder is configured.
if [ "$built" -eq 0 ]; then
  echo "== build-windows/ at this commit"
  KRONEX_RELEASE_FILE=$release scripts/windows-build.sh
fi
[ -f build-windows/app/kronex-atu.exe ] || {
  echo "reproducible: build-windows/ has no window (kronex-atu.exe): build it with Qt for Windows" >&2
  exit 1
}
commit=$(git rev-parse HEAD)
other=$(realpath -m "${1:-$(mktemp -d /tmp/kronex-second-build.XXXXXX)}")
[ "$other" != "$root" ] || { echo "reproducible: the second build needs another folder" >&2; exit 1; }

echo "== the commit $commit again, in $other"
rm -rf "$other/src"
git clone --quiet --no-checkout "$root" "$other/src"
git -C "$other/src" checkout --quiet --detach "$commit"
# The release: a copy of the same file, under the second build's own path.
cp "$release" "$other/release.txt"
(
  cd "$other/src"
  KRONEX_RELEASE_FILE=$other/release.txt KRONEX_WINDOWS_TESTS=OFF \
    KRONEX_HOST_RELEASE_EMBED=$root/build-windows/host/catalog/kronex-release-embed \
    scripts/windows-build.sh
)

echo "== the unsigned ZIPs"
first=$root/build-windows/packages/reproducible
rm -rf "$first" "$other/packages"
unsigned_zip build-windows "$first"
unsigned_zip "$other/src/build-windows" "$other/packages"
name=$(cd "$first" && find . -maxdepth 1 -name '*.zip' | sed 's|^\./||')
[ -f "$other/packages/$name" ] || { echo "reproducible: no $name from the second build" >&2; exit 1; }

status=0
mkdir -p "$first/unzipped" "$other/packages/unzipped"
unzip -q "$first/$name" -d "$first/unzipped"
unzip -q "$other/packages/$name" -d "$other/packages/unzipped"
compared=0
while IFS= read -r f; do
  compared=$((compared + 1))
  if ! cmp -s "$first/unzipped/$f" "$other/packages/unzipped/$f"; then
    echo "FAILED: $f differs: $(cmp "$first/unzipped/$f" "$other/packages/unzipped/$f" 2>&1 || true)"
    if grep -qaF "$other" "$other/packages/unzipped/$f"; then
      echo "        it holds the second build's path $other"
    fi
    status=1
  fi
done < <(cd "$first/unzipped" && find . -type f \( -name '*.exe' -o -name '*.dll' \) | sort)
[ "$compared" -gt 0 ] || { echo "FAILED: no program or DLL in $name"; status=1; }
echo "compared $compared programs and DLLs"
if cmp -s "$first/$name" "$other/packages/$name"; then
  echo "ok    : $name is the same, byte for byte"
else
  echo "FAILED: $name differs: $(cmp "$first/$name" "$other/packages/$name" || true)"
  status=1
fi

if [ "$status" -eq 0 ]; then
  rm -rf "$other/src" "$other/packages" "$other/release.txt"
  rmdir "$other" 2>/dev/null || true
  echo "reproducible: PASSED (the second build in another folder gave the same bytes)"
else
  echo "reproducible: FAILED (the second build is kept in $other)"
fi
exit "$status"
