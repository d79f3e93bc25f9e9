#!/usr/bin/env bash
# Builds the Debian package (Release) into build-package/ with the release
# in KRONEX_RELEASE_FILE (default the sample, catalog/data/release.txt),
# checks what it holds and runs lintian on it (any error or warning fails),
# installs it with apt as a user would, checks that the programs run from the
# installed files, runs a whole update with the installed kronex-update
# against the installed kronex-devsim, and removes the package again (as
# root, or through sudo).
#
# The update is checked with kronex-e2e-check built with the same release:
# KRONEX_E2E_CHECK when given, otherwise built here in build-package/check.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh
release=$(realpath -e "${KRONEX_RELEASE_FILE:-catalog/data/release.txt}") || {
  echo "package: no release file ${KRONEX_RELEASE_FILE:-catalog/data/release.txt}" >&2
  exit 1
}
install_deps package

out=build-package
cmake --preset package -B "$out" -DKRONEX_RELEASE_FILE="$release" >/dev/null
cmake --build "$out"
check=${KRONEX_E2E_CHECK:-}
if [ -z "$check" ]; then
  cmake --preset release -B "$out/check" -DKRONEX_BUILD_GUI=OFF -DKRONEX_RELEASE_FILE="$release" >/dev/null
  cmake --build "$out/check" --target kronex-e2e-check >/dev/null
  check=$out/check/tests/e2e/kronex-e2e-check
fi
[ -x "$check" ] || { echo "package: no kronex-e2e-check at $check" >&2; exit 1; }
rm -f "$out"/*.deb
(cd "$out" && cpack -G DEB >/dev/null)
deb=$(echo "$out"/kronex-atu_*.deb)
release_number=$("$out/catalog/kronex-release-embed" --summary "$release" | sed -n 's/^release: //p')
[ -f "$deb" ] || { echo "no package in $out" >&2; exit 1; }
echo "== $deb"
dpkg-deb --field "$deb"

status=0
as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)

files=(
  usr/bin/kronex-atu
  usr/bin/kronex-devsim
  usr/bin/kronex-update
  usr/share/applications/kronex-atu.desktop
  usr/share/icons/hicolor/48x48/apps/kronex-atu.png
  usr/share/icons/hicolor/128x128/apps/kronex-atu.png
  usr/share/icons/hicolor/256x256/apps/kronex-atu.png
  usr/share/icons/hicolor/scalable/apps/kronex-atu.svg
  usr/share/doc/kronex-atu/README.md
  usr/share/doc/kronex-atu/CLI.md
  usr/share/doc/kronex-atu/copyright
  usr/share/doc/kronex-atu/changelog.gz
  usr/share/man/man1/kronex-atu.1.gz
  usr/share/man/man1/kronex-devsim.1.gz
  usr/share/man/man1/kronex-update.1.gz
)
listing=$(dpkg-deb --contents "$deb" | awk '{print $NF}')
for f in "${files[@]}"; do
  grep -qx "./$f" <<<"$listing" || fail "the package lacks /$f"
done
depends=$(dpkg-deb --field "$deb" Depends | tr ',' '\n' | awk '{print $1}')
for d in libqt6widgets6 libqt6gui6 libqt6core6 libstdc++6 libc6 fonts-liberation; do
  grep -qxF "$d" <<<"$depends" || fail "Depends lacks $d"
done
unpacked=$(mktemp -d)
at_exit rm -rf "$unpacked"
dpkg-deb --extract "$deb" "$unpacked"
version=$(dpkg-deb --field "$deb" Version)
[[ "$version" == *+r"$release_number" && -n "$release_number" ]] ||
  fail "the version $version does not carry the release number (+r$release_number)"
zcat "$unpacked/usr/share/doc/kronex-atu/changelog.gz" | head -n 1 | grep -qF "kronex-atu ($version)" ||
  fail "the changelog's last entry is not for version $version"
for page in kronex-atu kronex-devsim kronex-update; do
  man -l "$unpacked/usr/share/man/man1/$page.1.gz" 2>/dev/null | grep -q "^NAME" ||
    fail "the manual page of $page does not render"
done

echo "== lintian"
if ! lintian --fail-on error,warning --tag-display-limit 0 "$deb"; then
  fail "lintian reports errors or warnings"
fi
desktop-file-validate "$unpacked/usr/share/applications/kronex-atu.desktop" ||
  fail "the desktop entry does not validate"
grep -qx 'Name=Atualização KRONEX' "$unpacked/usr/share/applications/kronex-atu.desktop" ||
  fail "the desktop entry's name is not the program's title"

echo "== installing with apt"
if dpkg-query -W -f='${Status}' kronex-atu 2>/dev/null | grep -q 'install ok installed'; then
  "${as_root[@]}" apt-get remove -y -qq kronex-atu >/dev/null
fi
DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -qq "./$deb" >/dev/null
for f in "${files[@]}"; do
  dpkg -L kronex-atu | grep -qx "/$f" || fail "dpkg -L kronex-atu lacks /$f"
  [ -e "/$f" ] || fail "/$f is not installed"
done
[ "$(command -v kronex-atu)" = /usr/bin/kronex-atu ] || fail "kronex-atu is not on the PATH"
kronex-devsim --help | grep -q '^Usage: kronex-devsim' || fail "kronex-devsim --help"
# The window on Qt's offscreen platform, as the menu entry starts it; it runs
# until timeout ends it (exit code 124).
home=$(mktemp -d)
ran=0
HOME=$home QT_QPA_PLATFORM=offscreen timeout 3 "$(grep '^Exec=' /usr/share/applications/kronex-atu.desktop | cut -d= -f2)" \
  >"$home/out.txt" 2>&1 || ran=$?
if [ "$ran" -eq 124 ]; then
  echo "kronex-atu started and ran until stopped"
else
  fail "kronex-atu ended on its own with exit code $ran: $(cat "$home/out.txt")"
fi
rm -rf "$home"

echo "== a whole update with the installed kronex-update against kronex-devsim"
# COM3 of a namespace of its own (docs/DEVELOPING.md, "Serial ports on Linux"), so that
# the user's own ports stay out of it.
run=$(realpath -m "$out/installed-update")
rm -rf "$run"
mkdir -p "$run/kronex/dosdevices" "$run/unit"
XDG_STATE_HOME=$run start_unit /usr/bin/kronex-devsim "$run/unit" --com 3 --dump "$run/unit"
got=0
XDG_STATE_HOME=$run timeout 300 /usr/bin/kronex-update update --port 3 --yes \
  >"$run/update.log" 2>&1 || got=$?
tail -n 3 "$run/update.log"
stop_units || fail "kronex-devsim did not end cleanly"
[ "$got" -eq 0 ] || fail "the installed kronex-update ended with $got (log: $run/update.log)"
if "$check" "$run/unit" "$run/unit/transcript.txt" "$run/kronex/drive_c/TEXTO2.TXT"; then
  echo "the installed programs updated the unit: $(grep -vc '^HANDSHAKE' "$run/unit/transcript.txt") exchanges"
else
  fail "the unit does not hold what the release says after the installed update (logs in $run)"
fi

echo "== removing"
"${as_root[@]}" apt-get remove -y -qq kronex-atu >/dev/null
if dpkg-query -W -f='${Status}' kronex-atu 2>/dev/null | grep -q 'install ok installed' ||
  [ -e /usr/bin/kronex-atu ]; then
  fail "kronex-atu is still installed"
fi

if [ "$status" -eq 0 ]; then
  echo "package: PASSED ($deb)"
else
  echo "package: FAILED"
fi
exit "$status"
