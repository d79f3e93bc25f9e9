#!/usr/bin/env bash
# The Windows downloads, built and tried under wine: the ZIP (the install
# folder, checked file by file) and the NSIS installer, installed silently
# into a fresh wine prefix, its Start-menu entry started until the window
# shows, then uninstalled silently, after which nothing of it may be left.
# Both programs, the installer and the uninstaller are signed and their
# signatures verified: with the certificate in KRONEX_SIGN_CERT and
# KRONEX_SIGN_KEY (scripts/sign-windows.sh) when given, verified against
# KRONEX_SIGN_CA (default: the system's authorities), otherwise with a
# throw-away test certificate made here. Results in build-windows/packages/.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/windows-build.sh
if [ ! -f build-windows/app/kronex-atu.exe ]; then
  echo "no kronex-atu.exe: the cross build found no Qt for Windows (scripts/qt-windows.sh)" >&2
  exit 1
fi
scripts/install-deps.sh nsis xvfb xdotool fonts-wine unzip zip osslsigncode openssl
. scripts/wine-env.sh

out=$PWD/build-windows/packages
rm -rf "$out"
mkdir -p "$out"
if [ -z "${KRONEX_SIGN_CERT:-}" ]; then
  export KRONEX_SIGN_CERT=$out/test-signing-cert.pem KRONEX_SIGN_KEY=$out/test-signing-key.pem
  openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=KRONEX test signing/O=KRONEX" \
    -addext extendedKeyUsage=codeSigning -keyout "$KRONEX_SIGN_KEY" -out "$KRONEX_SIGN_CERT" 2>/dev/null
  KRONEX_SIGN_CA=$KRONEX_SIGN_CERT
fi
sign_ca=${KRONEX_SIGN_CA:-/etc/ssl/certs/ca-certificates.crt}
(cd build-windows && cpack -G 'ZIP;NSIS' -B "$out" >/dev/null)
name=kronex-atu-$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build-windows/CMakeCache.txt)-win64
status=0
ok() { echo "ok    : $*"; }
fail() {
  echo "FAILED: $*"
  status=1
}
echo "$name.zip: $(du -k "$out/$name.zip" | cut -f1) kB, $name.exe: $(du -k "$out/$name.exe" | cut -f1) kB"
# signed FILE WHAT: FILE carries a signature that verifies against the CA.
signed() {
  if osslsigncode verify -CAfile "$sign_ca" -in "$1" >"$out/verify.log" 2>&1; then
    ok "$2 is signed by $(sed -n 's/^[[:space:]]*Subject: //p' "$out/verify.log" | head -n 1)"
  else
    fail "$2 carries no signature that verifies: $(tail -n 3 "$out/verify.log" | tr '\n' ' ')"
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
  README.txt licences/NOTICES.txt licences/LGPL-3.txt; do
  grep -qx "$name/$f" <<<"$actual" || fail "the ZIP has no $f"
done
# The notices name every DLL that ships, and the Qt they name is the one
# scripts/qt-windows.sh builds: the Debian source version and each
# configure option.
notices=$(unzip -p "$out/$name.zip" "$name/licences/NOTICES.txt" | tr -s ' \n' '  ')
for dll in $(grep '\.dll$' <<<"$actual" | sed 's|.*/||'); do
  grep -qF "$dll" <<<"$notices" || fail "NOTICES.txt does not name $dll"
done
grep -qF "qt6-base, version $(dpkg-query -W -f='${Version}' qt6-base-dev)" <<<"$notices" ||
  fail "NOTICES.txt does not give the Debian source version of Qt"
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

# The installer, in a prefix of its own.
XVFB_PID=
cleanup() {
  timeout 20 "$WINESERVER" -k 2>/dev/null || true
  [ -z "$XVFB_PID" ] || kill "$XVFB_PID" 2>/dev/null || true
}
trap cleanup EXIT
start_xvfb
export WINEPREFIX=$PWD/build-windows/wineprefix-install
rm -rf "$WINEPREFIX"
timeout 120 "$WINE" wineboot --init >/dev/null 2>&1
timeout 60 "$WINESERVER" -w

dir="$WINEPREFIX/drive_c/Program Files/KRONEX"
menu="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Atualização KRONEX"
key='HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Uninstall\KRONEX'
# The uninstall entry as Apps & Features reads it, or nothing.
uninstall_entry() {
  rm -f "$WINEPREFIX/drive_c/entry.reg"
  timeout 60 "$WINE" regedit /E 'C:\entry.reg' "$key" >/dev/null 2>&1 || true
  [ -f "$WINEPREFIX/drive_c/entry.reg" ] && iconv -f UTF-16LE -t UTF-8 "$WINEPREFIX/drive_c/entry.reg" | tr -d '\r'
}

cp "$out/$name.exe" "$WINEPREFIX/drive_c/"
# Windows older than 10 1809: the installer refuses, before copying anything.
timeout 60 "$WINE" winecfg -v win81 >/dev/null 2>&1
got=0
timeout 300 "$WINE" "C:\\$name.exe" /S >/dev/null 2>&1 || got=$?
timeout 120 "$WINESERVER" -w || true
if [ "$got" -eq 2 ] && [ ! -e "$dir" ]; then
  ok "on Windows 8.1 the installer refuses (exit 2) and installs nothing"
else
  fail "on Windows 8.1 the installer ended with $got, 2 expected$([ -e "$dir" ] && echo ', and installed files')"
fi
timeout 60 "$WINE" winecfg -v win10 >/dev/null 2>&1
timeout 300 "$WINE" "C:\\$name.exe" /S >/dev/null 2>&1 || fail "the silent install failed"
timeout 120 "$WINESERVER" -w || true
[ -f "$dir/kronex-atu.exe" ] && ok "installed into C:\\Program Files\\KRONEX" ||
  fail "no kronex-atu.exe in C:\\Program Files\\KRONEX"
[ -f "$dir/platforms/qwindows.dll" ] || fail "no platforms\\qwindows.dll installed"
signed "$dir/Uninstall.exe" "the installed uninstaller"
signed "$dir/kronex-update.exe" "the installed kronex-update.exe"
data="$WINEPREFIX/drive_c/ProgramData/KRONEX"
[ -d "$data" ] && ok "C:\\ProgramData\\KRONEX made for every user's records" ||
  fail "no C:\\ProgramData\\KRONEX after the install"
[ -f "$menu/Atualização KRONEX.lnk" ] && ok "Start menu: Atualização KRONEX\\Atualização KRONEX" ||
  fail "no Start-menu entry \"Atualização KRONEX\""
entry=$(uninstall_entry || true)
if grep -qx '"DisplayName"="Atualização KRONEX"' <<<"$entry" && grep -q '^"UninstallString"=' <<<"$entry"; then
  ok "Apps & Features: \"Atualização KRONEX\" with its uninstaller"
else
  fail "no uninstall entry \"Atualização KRONEX\" in the registry"
fi

# Started from the Start-menu entry, as a user would.
timeout 120 "$WINE" start /wait "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Atualização KRONEX\\Atualização KRONEX.lnk" \
  >/dev/null 2>&1 &
starter=$!
win=
for _ in $(seq 300); do
  win=$(xdotool search --onlyvisible --name '^Atualização KRONEX$' 2>/dev/null | tail -n 1 || true)
  [ -n "$win" ] && break
  sleep 0.2
done
[ -n "$win" ] && ok "the installed program shows its window" || fail "the installed program showed no window"
timeout 20 "$WINESERVER" -k 2>/dev/null || true
wait "$starter" 2>/dev/null || true

timeout 120 "$WINE" "C:\\Program Files\\KRONEX\\Uninstall.exe" /S >/dev/null 2>&1 || fail "the silent uninstall failed"
# The uninstaller runs on from a copy of itself in the temporary folder.
timeout 120 "$WINESERVER" -w || true
left=()
[ ! -e "$dir" ] || left+=("C:\\Program Files\\KRONEX: $(cd "$dir" && find . | tr '\n' ' ')")
[ ! -e "$menu" ] || left+=("the Start-menu folder Atualização KRONEX")
[ -z "$(uninstall_entry || true)" ] || left+=("the uninstall entry in the registry")
[ -d "$data" ] && ok "C:\\ProgramData\\KRONEX kept: it may hold a unit's record" ||
  fail "C:\\ProgramData\\KRONEX removed by the uninstall"
if [ ${#left[@]} -eq 0 ]; then
  ok "uninstalled: no files, no Start-menu entry, no registry entry left"
else
  for l in "${left[@]}"; do fail "left after uninstalling: $l"; done
fi

# Two builds of one commit give the same bytes: the programs linked,
# stripped and packed again (unsigned: a signature carries its own time)
# give the same ZIP.
unsigned_zip() {
  (cd build-windows && env -u KRONEX_SIGN_CERT -u KRONEX_SIGN_KEY cpack -G ZIP -B "$1" >/dev/null)
}
unsigned_zip "$out/again-1"
rm -f build-windows/app/kronex-atu.exe build-windows/cli/kronex-update.exe
sleep 1 # another second on the clock
cmake --build build-windows >/dev/null
unsigned_zip "$out/again-2"
if cmp -s "$out/again-1/$name.zip" "$out/again-2/$name.zip"; then
  ok "linked and packed twice: the same ZIP, byte for byte"
else
  fail "linked and packed twice, the ZIPs differ: $(cmp "$out/again-1/$name.zip" "$out/again-2/$name.zip" || true)"
fi
unzip -Z1 "$out/again-1/$name.zip" | LC_ALL=C sort -c 2>/dev/null || fail "the ZIP's entries are not sorted"

if [ "$status" -eq 0 ]; then
  echo "Windows packages: PASSED ($out)"
else
  echo "Windows packages: FAILED"
fi
exit "$status"
