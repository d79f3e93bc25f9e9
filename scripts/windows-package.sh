#!/usr/bin/env bash
# shellcheck disable=SC2015,SC2016 # ok and fail always succeed, so "A && ok || fail" is if-then-else; sed's $ stays literal
# The Windows downloads, built and tried under wine: the ZIP (the install
# folder, checked file by file) and the NSIS installer: its texts (Portuguese
# only), then in a fresh wine prefix a refused install on old Windows, a
# silent install with its Start-menu entries and uninstall entry, a refused
# downgrade (silent, then with its pages: "Não", then "Sim"), a reinstall,
# an upgrade and an uninstall refused while kronex-update runs, a silent
# uninstall after which nothing of it may be left; then an upgrade from an
# older installer (the one given with --previous, else one made here with
# CPack's own template, as installers were made before) cancelled by the
# user on the first page, then done, the window started, a whole update
# with the installed kronex-update.exe against kronex-devsim on COM3, and
# the uninstall.
# Both programs, the installer and the uninstaller are signed and their
# signatures verified: with the certificate in KRONEX_SIGN_CERT and
# KRONEX_SIGN_KEY (scripts/sign-windows.sh) when given, verified against
# KRONEX_SIGN_CA (default: the system's authorities), otherwise with a
# throw-away test certificate made here and time-stamped by a throw-away
# time-stamp server on this machine (scripts/test-signing.sh). Results in build-windows/packages/.
set -euo pipefail
previous=
while [ $# -gt 0 ]; do
  case $1 in
    --previous)
      [ -f "${2:-}" ] || { echo "--previous: no installer ${2:-}" >&2; exit 2; }
      previous=$(realpath "$2")
      shift 2
      ;;
    *)
      echo "usage: scripts/windows-package.sh [--previous INSTALLER]" >&2
      exit 2
      ;;
  esac
done
cd "$(dirname "$0")/.."
. scripts/lib.sh
scripts/windows-build.sh
if [ ! -f build-windows/app/kronex-atu.exe ]; then
  echo "no kronex-atu.exe: the cross build found no Qt for Windows (scripts/qt-windows.sh)" >&2
  exit 1
fi
install_deps windows-package
wine_env

out=$PWD/build-windows/packages
rm -rf "$out"
mkdir -p "$out"
. scripts/test-signing.sh
at_exit test_signing_stop
if [ -z "${KRONEX_SIGN_CERT:-}" ]; then
  test_signing "$out"
fi
sign_ca=${KRONEX_SIGN_CA:-/etc/ssl/certs/ca-certificates.crt}
started=$SECONDS
(cd build-windows && cpack -G 'ZIP;NSIS' -B "$out" >/dev/null)
# What cpack was told (CPACK_VERBATIM_VARIABLES: written as given).
cpack_value() { sed -n "s/^set($1 \"\(.*\)\")\$/\1/p" build-windows/CPackConfig.cmake; }
name=$(cpack_value CPACK_PACKAGE_FILE_NAME)
version=$(cpack_value CPACK_PACKAGE_VERSION)
caption=$(cpack_value CPACK_KRONEX_RELEASE_CAPTION)
number=$(cpack_value CPACK_KRONEX_RELEASE_NUMBER)
[ -f "$out/$name.exe" ] && [ -f "$out/$name.zip" ] || { echo "cpack made no $name.exe and .zip" >&2; exit 1; }
status=0
echo "$name.zip: $(du -k "$out/$name.zip" | cut -f1) kB, $name.exe: $(du -k "$out/$name.exe" | cut -f1) kB"
# signed FILE WHAT: FILE carries a signature that verifies against the CA.
# With a time-stamp server, the time-stamp must verify too, against
# KRONEX_SIGN_TSA_CA (default: the signature's authorities).
signed() {
  local verify=(osslsigncode verify -CAfile "$sign_ca" -in "$1")
  [ -z "${KRONEX_SIGN_TIMESTAMP:-}" ] || verify+=(-TSA-CAfile "${KRONEX_SIGN_TSA_CA:-$sign_ca}")
  if ! "${verify[@]}" >"$out/verify.log" 2>&1; then
    fail "$2 carries no signature that verifies: $(tail -n 3 "$out/verify.log" | tr '\n' ' ')"
  elif [ -n "${KRONEX_SIGN_TIMESTAMP:-}" ] &&
    ! grep -q '^Timestamp Server Signature verification: ok' "$out/verify.log"; then
    fail "$2 is signed but carries no time-stamp that verifies"
  else
    # The first subject after each heading: the signer, then the time-stamper.
    subject() { sed -n "/^$1/,\$s/^[[:space:]]*Subject: //p" "$out/verify.log" | head -n 1; }
    ok "$2 is signed by $(subject 'Signing certificate chain')$(
      [ -z "${KRONEX_SIGN_TIMESTAMP:-}" ] || echo ", time-stamped by $(subject 'Timestamp verified')")"
  fi
}
signed "$out/$name.exe" "the installer"
rm -rf "$out/unzipped"
unzip -q "$out/$name.zip" "$name/kronex-atu.exe" "$name/kronex-update.exe" -d "$out/unzipped"
signed "$out/unzipped/$name/kronex-atu.exe" "kronex-atu.exe in the ZIP"
signed "$out/unzipped/$name/kronex-update.exe" "kronex-update.exe in the ZIP"

# The ZIP holds the install folder, nothing more and nothing less.
rm -rf "$out/layout"
cmake --install build-windows --prefix "$out/layout" --strip >/dev/null
expected=$(cd "$out/layout" && find . -type f | sed "s|^\./|$name/|" | sort)
actual=$(unzip -Z1 "$out/$name.zip" | grep -v '/$' | sort)
if [ "$expected" = "$actual" ]; then
  ok "the ZIP holds the install folder ($(echo "$actual" | wc -l) files)"
else
  fail "the ZIP differs from the install folder:"
  diff <(echo "$expected") <(echo "$actual") || true
fi
for f in kronex-atu.exe kronex-update.exe qt.conf Qt6Core.dll Qt6Gui.dll Qt6Widgets.dll platforms/qwindows.dll \
  styles/qwindowsvistastyle.dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll \
  README.txt CLI.txt licences/NOTICES.txt licences/LGPL-3.txt; do
  grep -qx "$name/$f" <<<"$actual" || fail "the ZIP has no $f"
done
# The notices name every DLL that ships, and the Qt they name is the one
# scripts/qt-windows.sh builds: the Debian source version and each
# configure option.
notices=$(unzip -p "$out/$name.zip" "$name/licences/NOTICES.txt" | tr -s ' \n' '  ')
# shellcheck disable=SC2013 # the DLLs' names, one word each
for dll in $(grep '\.dll$' <<<"$actual" | sed 's|.*/||'); do
  grep -qF "$dll" <<<"$notices" || fail "NOTICES.txt does not name $dll"
done
grep -qF "qt6-base, version $(dpkg-query -W -f='${Version}' qt6-base-dev)" <<<"$notices" ||
  fail "NOTICES.txt does not give the Debian source version of Qt"
# shellcheck disable=SC2013 # the options, one word each
for option in $(sed -n '/"$src\/configure"/,/ -- \\$/p' scripts/qt-windows.sh | grep -o ' -[a-z][^ ]*'); do
  grep -qF " $option " <<<"$notices" || fail "NOTICES.txt's Qt configure line lacks $option"
done

# One C++ run-time in the window's process: the DLLs Qt's DLLs import, not a
# copy of its own; kronex-update.exe stands alone.
objdump=$(command -v x86_64-w64-mingw32-objdump || echo objdump)
imports() { "$objdump" -p "$out/layout/$1" | sed -n 's/^[[:space:]]*DLL Name: //p' | sort; }
if imports kronex-atu.exe | grep -qx 'libstdc++-6.dll' && imports kronex-atu.exe | grep -qx 'libgcc_s_seh-1.dll'; then
  ok "kronex-atu.exe takes libstdc++-6.dll and libgcc_s_seh-1.dll, as Qt's DLLs do"
else
  fail "kronex-atu.exe does not import the run-time DLLs Qt's DLLs use: $(imports kronex-atu.exe | tr '\n' ' ')"
fi
if imports kronex-update.exe | grep -q '^lib'; then
  fail "kronex-update.exe needs MinGW DLLs: $(imports kronex-update.exe | tr '\n' ' ')"
fi
if [ "$(grep -v '^;' "$out/layout/qt.conf" | tr -d '\r')" = "$(printf '[Paths]\nPrefix=.')" ]; then
  ok "qt.conf beside kronex-atu.exe: Qt's prefix is the program's folder"
else
  fail "no qt.conf with Prefix=. beside kronex-atu.exe"
fi

# The installer speaks Portuguese (Brazil) alone: the one language inserted,
# none of the English texts of NSIS's language files or of CPack's own
# installer in it or in the uninstaller it writes, and the product named
# with its article ("da Atualização", not "do").
lang="/usr/share/nsis/Contrib/Language files"
{
  grep -v '^#' "$lang/English.nlf"
  sed -n 's/.*LangFileString} [A-Z_]* "\(.*\)"$/\1/p' "$lang/English.nsh"
  printf '%s\n' 'Uninstall.lnk' 'is already installed' 'Uninstall failed' 'Choose options for installing'
} | tr -d '\r' | sed 's/\$\\r\$\\n/\n/g; s/\$([^)]*)/\n/g; s/\$_CLICK/\n/g; s/^"//; s/"$//' |
  sed 's/^[ .:]*//; s/[ .:]*$//' | grep -E '[A-Za-z]{2,}[ .][A-Za-z]{2,}' | sort -u >"$out/english.txt"
# texts_are_portuguese FILE WHAT
texts_are_portuguese() {
  local english wrong
  python3 scripts/nsis-texts.py "$1" >"$out/texts.txt"
  english=$(grep -F -f "$out/english.txt" "$out/texts.txt" || true)
  wrong=$(grep -E '(^|[ (])(d?o|no) Atualização' "$out/texts.txt" || true)
  if [ -n "$english$wrong" ]; then
    fail "$2 has texts in English or naming the product wrongly: $(echo "$english$wrong" | head -n 5 | paste -sd '|')"
  elif grep -qx 'Cancelar' "$out/texts.txt" && grep -q 'Atualização KRONEX' "$out/texts.txt"; then
    ok "$2: every text in Portuguese (Brazil), $(wc -l <"$out/texts.txt") checked"
  else
    fail "$2: no Portuguese texts found (nsis-texts.py read nothing?)"
  fi
}
languages=$(grep -o 'MUI_LANGUAGE "[^"]*"' "$out/_CPack_Packages/win64/NSIS/project.nsi" | paste -sd ' ')
[ "$languages" = 'MUI_LANGUAGE "PortugueseBR"' ] && ok "one language in the installer: PortugueseBR" ||
  fail "the installer's languages: $languages"
texts_are_portuguese "$out/$name.exe" "the installer"
# Explorer's Properties, Details: the installer's version block (UTF-16).
for text in "Instalador da Atualização KRONEX $version ($caption)" "Atualização KRONEX" "KRONEX" \
  "$version.$number" "© KRONEX. Todos os direitos reservados."; do
  python3 -c 'import sys; sys.exit(sys.argv[1].encode("utf-16-le") + b"\0\0" not in open(sys.argv[2], "rb").read())' \
    "$text" "$out/$name.exe" || { fail "the installer's version block lacks \"$text\""; continue; }
  ok "the installer's version block holds \"$text\""
done

# Two older installers: this one as version 0.0.1, for the downgrade, and
# the one an upgrade starts from: the previous release's (--previous) or,
# without it, one made as installers were before this script of ours
# (CPack's own template, the same files) as version 0.0.1.
older=kronex-atu-0.0.1-$(cpack_value CPACK_PACKAGE_FILE_NAME | sed 's/^kronex-atu-[^-]*-//')
(cd build-windows && cpack -G NSIS -B "$out/older" -D CPACK_PACKAGE_VERSION=0.0.1 \
  -D "CPACK_PACKAGE_FILE_NAME=$older" >/dev/null)
older=$out/older/$older.exe
if [ -z "$previous" ]; then
  mkdir -p "$out/no-template"
  (cd build-windows && cpack -G NSIS -B "$out/before" -D "CPACK_MODULE_PATH=$out/no-template" \
    -D CPACK_PACKAGE_VERSION=0.0.1 -D CPACK_PACKAGE_FILE_NAME=kronex-atu-0.0.1-win64 \
    -D "CPACK_NSIS_PACKAGE_NAME=Atualização KRONEX" -D "CPACK_NSIS_DISPLAY_NAME=Atualização KRONEX" \
    -D "CPACK_PACKAGE_EXECUTABLES=kronex-atu;Atualização KRONEX" -D CPACK_NSIS_EXECUTABLES_DIRECTORY=. \
    -D CPACK_NSIS_INSTALLED_ICON_NAME=kronex-atu.exe -D CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL=ON >/dev/null)
  previous=$out/before/kronex-atu-0.0.1-win64.exe
fi

# The installer, in a prefix of its own.
start_xvfb
export WINEPREFIX=$PWD/build-windows/wineprefix-install
rm -rf "$WINEPREFIX"
timeout 120 "$WINE" wineboot --init >/dev/null 2>&1
timeout 60 "$WINESERVER" -w
. scripts/installer-trials.sh

# Windows older than 10 1809: the installer refuses, before copying anything.
timeout 60 "$WINE" winecfg -v win81 >/dev/null 2>&1
run_installer "$out/$name.exe" /S
if [ "$got" -eq 2 ] && [ ! -e "$dir" ]; then
  ok "on Windows 8.1 the installer refuses (exit 2) and installs nothing"
else
  fail "on Windows 8.1 the installer ended with $got, 2 expected$([ -e "$dir" ] && echo ', and installed files')"
fi
timeout 60 "$WINE" winecfg -v win10 >/dev/null 2>&1

# A first install, silent, traced for the rights it sets.
WINEDEBUG=-all,trace+process installer_trace=$out/install-trace.txt run_installer "$out/$name.exe" /S
[ "$got" -eq 0 ] || fail "the silent install ended with $got"
folder_rights_set "$out/install-trace.txt" "installed"
files_are_this_version "installed"
signed "$dir/Uninstall.exe" "the installed uninstaller"
signed "$dir/kronex-update.exe" "the installed kronex-update.exe"
texts_are_portuguese "$dir/Uninstall.exe" "the uninstaller"
[ -d "$data" ] && ok "C:\\ProgramData\\KRONEX made for every user's records" ||
  fail "no C:\\ProgramData\\KRONEX after the install"
menu_is_this_version "installed"
entry_is_this_version "installed"

# A downgrade, silent: refused (exit 3), nothing changed.
before=$(snapshot)
run_installer "$older" /S
if [ "$got" -eq 3 ] && [ "$(snapshot)" = "$before" ]; then
  ok "version 0.0.1 over $version, silent: refused (exit 3), nothing changed"
else
  fail "version 0.0.1 over $version, silent: exit $got, 3 expected$([ "$(snapshot)" = "$before" ] || echo ', and the install changed')"
fi
# The same downgrade with the installer's pages: the question's default
# answer (Enter: "Não") ends it, nothing changed; "Sim" (Shift+Tab, Enter)
# and Enter on each page install version 0.0.1.
installer_with_pages "$older" 0.0.1 Return
if [ "$got" -eq 3 ] && [ "$(snapshot)" = "$before" ]; then
  ok "version 0.0.1 over $version with its pages: the question's default, \"Não\", ends it (exit 3), nothing changed"
else
  fail "version 0.0.1 over $version with its pages, \"Não\": exit $got, 3 expected$([ "$(snapshot)" = "$before" ] || echo ', and the install changed')"
fi
installer_with_pages "$older" 0.0.1 "shift+Tab Return"
if [ "$got" -eq 0 ] && uninstall_entry | grep -qx '"DisplayVersion"="0.0.1"' && [ -f "$dir/kronex-atu.exe" ]; then
  ok "version 0.0.1 over $version with its pages, \"Sim\": installed in its place"
else
  fail "version 0.0.1 over $version with its pages, \"Sim\": exit $got, $(uninstall_entry | grep DisplayVersion || echo no entry)"
fi
# This version again over it: an upgrade from one of these installers.
run_installer "$out/$name.exe" /S
[ "$got" -eq 0 ] && [ "$(snapshot)" = "$before" ] && ok "$version over 0.0.1, silent: installed as before" ||
  fail "$version over 0.0.1, silent: exit $got$([ "$(snapshot)" = "$before" ] || echo ', and the install differs')"
# The same version again: reinstalled without a question.
run_installer "$out/$name.exe" /S
[ "$got" -eq 0 ] && [ "$(snapshot)" = "$before" ] && ok "the same version again, silent: reinstalled as it was" ||
  fail "the same version again, silent: exit $got$([ "$(snapshot)" = "$before" ] || echo ', and the install changed')"

# A program of the install still running (kronex-update waiting for units
# in a console): the upgrade and the uninstall, silent, refuse and change
# nothing (the upgrade with exit code 5; the uninstaller's own code stays
# with the copy of itself it runs from the temporary folder).
"$WINE" "C:\\Program Files\\KRONEX\\kronex-update.exe" --lang en update --wait --port 9 --yes >"$out/running.txt" 2>&1 &
running=$!
# Running for certain once it says it waits for units.
for _ in $(seq 300); do
  grep -q '^Waiting for the units' "$out/running.txt" 2>/dev/null && break
  sleep 0.2
done
grep -q '^Waiting for the units' "$out/running.txt" ||
  fail "the installed kronex-update.exe did not start waiting for units: $(head -c 300 "$out/running.txt")"
got=0
timeout 120 "$WINE" "C:\\$name.exe" /S >/dev/null 2>&1 || got=$?
[ "$got" -eq 5 ] && [ "$(snapshot)" = "$before" ] &&
  ok "with kronex-update running, the silent upgrade refuses (exit 5) and changes nothing" ||
  fail "with kronex-update running, the silent upgrade ended with $got, 5 expected$([ "$(snapshot)" = "$before" ] || echo ', and the install changed')"
timeout 120 "$WINE" "C:\\Program Files\\KRONEX\\Uninstall.exe" /S >/dev/null 2>&1 || true
sleep 1
for _ in $(seq 150); do
  pgrep -f '~nsu' >/dev/null || break
  sleep 0.2
done
[ "$(snapshot)" = "$before" ] &&
  ok "with kronex-update running, the silent uninstall refuses and changes nothing" ||
  fail "with kronex-update running, the silent uninstall changed the install: $(diff <(echo "$before") <(snapshot) | grep '^[<>]' | head -n 3 | tr '\n' ' ')"
timeout 20 "$WINESERVER" -k 2>/dev/null || true
wait "$running" 2>/dev/null || true

timeout 120 "$WINE" "C:\\Program Files\\KRONEX\\Uninstall.exe" /S >/dev/null 2>&1 || fail "the silent uninstall failed"
# The uninstaller runs on from a copy of itself in the temporary folder.
timeout 120 "$WINESERVER" -w || true
nothing_left "uninstalled"

# From the older installer's install to this one.
run_installer "$previous" /S
old_version=$(uninstall_entry | sed -n 's/^"DisplayVersion"="\(.*\)"$/\1/p')
if [ "$got" -eq 0 ] && [ -f "$dir/kronex-atu.exe" ] && [ -n "$old_version" ]; then
  ok "$(basename "$previous") installed: version $old_version"
else
  fail "$(basename "$previous") did not install (exit $got)"
fi
before=$(snapshot)
cancel_installer "$out/$name.exe"
if [ "$got" -ge 97 ]; then
  fail "the installer's first page could not be cancelled under wine (step $got)"
elif [ "$(snapshot)" = "$before" ]; then
  ok "upgrade cancelled on the first page (exit $got): version $old_version's files, Start menu and entry unchanged"
else
  fail "upgrade cancelled on the first page: version $old_version's install changed: $(diff <(echo "$before") <(snapshot) | grep '^[<>]' | head -n 5 | tr '\n' ' ')"
fi
window_shows && ok "version $old_version still starts from the Start menu" ||
  fail "version $old_version shows no window after the cancelled upgrade"
WINEDEBUG=-all,trace+process installer_trace=$out/upgrade-trace.txt run_installer "$out/$name.exe" /S
[ "$got" -eq 0 ] || fail "the silent upgrade from $old_version ended with $got"
folder_rights_set "$out/upgrade-trace.txt" "upgraded from $old_version"
files_are_this_version "upgraded from $old_version"
menu_is_this_version "upgraded from $old_version"
entry_is_this_version "upgraded from $old_version"
[ -z "$(registry 'HKEY_LOCAL_MACHINE\Software\KRONEX' || true)" ] || fail "upgraded: HKLM\\Software\\KRONEX left"
window_shows && ok "upgraded: the installed program shows its window" ||
  fail "upgraded: the installed program showed no window"

if update_with_installed_program; then
  ok "a whole update with C:\\Program Files\\KRONEX\\kronex-update.exe on COM3 ($(grep -c '' "$out/update/transcript.txt") lines of command log, checked)"
else
  fail "the update with the installed kronex-update.exe failed (exit $got): $(tail -n 3 "$out/update/update.err" "$out/update/check.log" 2>/dev/null | tr '\n' ' ')"
fi

timeout 120 "$WINE" "C:\\Program Files\\KRONEX\\Uninstall.exe" /S >/dev/null 2>&1 || fail "the silent uninstall failed"
timeout 120 "$WINESERVER" -w || true
nothing_left "uninstalled after the upgrade"

# Two builds of one commit give the same bytes: the programs linked,
# stripped and packed again (unsigned: a signature carries its own time)
# give the same ZIP.
unsigned_zip build-windows "$out/again-1"
rm -f build-windows/app/kronex-atu.exe build-windows/cli/kronex-update.exe
sleep 1 # another second on the clock
cmake --build build-windows >/dev/null
unsigned_zip build-windows "$out/again-2"
if cmp -s "$out/again-1/$name.zip" "$out/again-2/$name.zip"; then
  ok "linked and packed twice: the same ZIP, byte for byte"
else
  fail "linked and packed twice, the ZIPs differ: $(cmp "$out/again-1/$name.zip" "$out/again-2/$name.zip" || true)"
fi
unzip -Z1 "$out/again-1/$name.zip" | LC_ALL=C sort -c 2>/dev/null || fail "the ZIP's entries are not sorted"

echo "packages made and tried in $((SECONDS - started)) s"
if [ "$status" -eq 0 ]; then
  echo "Windows packages: PASSED ($out)"
else
  echo "Windows packages: FAILED"
fi
exit "$status"
