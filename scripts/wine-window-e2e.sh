#!/usr/bin/env bash
# The window as a user drives it, under wine on Xvfb: kronex-atu.exe from its
# install folder alone (cmake --install of the cross build), clicked with
# xdotool, the window and the dialogs found by their titles.
#   1. No unit: "Iniciar", OK, the scan of COM1-COM16 ends in "Erro de
#      comunicação", and after "Cancelar" the window is back to "Iniciar"
#      (a second click shows the first question again).
#   2. kronex-devsim on a pseudo-terminal as COM3: "Iniciar", OK, the whole
#      update, "Mensagem" (code 7), OK, the program ends. The unit's command
#      log and memories and C:\TEXTO2.TXT are then checked as in wine-e2e.sh.
# Screenshots of the window and the dialogs go to build-windows/window-e2e/
# (--screenshots DIR copies them there as well, for docs/img). The first run
# draws with Qt's FreeType engine (wine's DirectWrite drops some glyphs); the
# update runs as a user starts it, without arguments.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh
shots_out=
[ "${1:-}" = --screenshots ] && shots_out=$(realpath "$2")
scripts/windows-build.sh
if [ ! -f build-windows/app/kronex-atu.exe ]; then
  echo "no kronex-atu.exe: the cross build found no Qt for Windows (scripts/qt-windows.sh)" >&2
  exit 1
fi
install_deps window

run=$PWD/build-windows/window-e2e
host=build-windows/host
rm -rf "$run"
mkdir -p "$run/unit/dump" "$run/shots"
# The folder a user's PC gets, and nothing else on the program's DLL path.
cmake --install build-windows --prefix "$run/dist" --strip >/dev/null

use_wine_gui
rm -f "$WINEPREFIX/drive_c/TEXTO2.TXT"

status=0

click() { xdotool mousemove --window "$1" "$2" "$3" click 1; }
# Client-area size of window $1 as WxH.
size_of() { xdotool getwindowgeometry "$1" | sed -n 's/.*Geometry: //p'; }
shot() {
  import -window "$1" "$run/shots/$2.png"
  [ -z "$shots_out" ] || cp "$run/shots/$2.png" "$shots_out/$2.png"
}
# Title as the X server has it (wine converts the program's UTF-16 to UTF-8).
check_title() {
  local name
  name=$(xdotool getwindowname "$1")
  if [ "$name" = "$2" ]; then ok "title \"$name\""; else fail "title \"$name\", \"$2\" expected"; fi
}

start_program() {
  local log=$1
  shift
  (cd "$run/dist" && exec timeout 900 "$WINE" kronex-atu.exe "$@") >"$run/$log.log" 2>&1 &
  program=$!
  if ! wait_window '^Atualização KRONEX$' 60; then
    fail "no window \"Atualização KRONEX\" within 60 s"
    exit 1
  fi
  main=$win
  sleep 1 # the release loads on the first activation
}

echo "== no unit on COM1-COM16"
map_ports
# Wine's DirectWrite drops glyphs of Liberation Sans (a capital I, an italic
# b); Qt's FreeType engine draws them, so the screenshots show the texts.
start_program no-unit -platform windows:fontengine=freetype
check_title "$main" 'Atualização KRONEX'
size=$(size_of "$main")
if [ "$size" = 349x537 ]; then ok "client area 349x537"; else fail "client area $size, 349x537 expected"; fi
shot "$main" wine-main-window
click "$main" 173 445 # Iniciar
if wait_window '^Mensagem$' 20; then
  check_title "$win" Mensagem
  size=$(size_of "$win")
  if [ "$size" = 338x168 ]; then ok "dialog 338x168"; else fail "dialog $size, 338x168 expected"; fi
  shot "$win" wine-msg-0
  click "$win" 300 150 # OK
else
  fail "no question (code 0) after Iniciar"
fi
if wait_window '^Erro de comunicação$' 60; then
  check_title "$win" 'Erro de comunicação'
  shot "$win" wine-msg-1
  click "$win" 233 150 # Cancelar
  wait_gone '^Erro de comunicação$' 10 || fail "the message stayed after Cancelar"
  # Idle again: the button takes a click and asks the first question again.
  click "$main" 173 445
  if wait_window '^Mensagem$' 20; then
    ok "back to \"Iniciar\": a new click asks again"
    click "$win" 233 150 # Cancelar
  else
    fail "the window did not return to \"Iniciar\""
  fi
else
  fail "no \"Erro de comunicação\" after the scan"
fi
kill "$program" 2>/dev/null || true
timeout 20 "$WINESERVER" -k 2>/dev/null || true
wait "$program" 2>/dev/null || true

echo "== kronex-devsim on COM3"
start_unit "$host/tools/devsim/kronex-devsim" "$run/unit" --dump "$run/unit/dump"
map_ports 3="$pty"
start_program update
click "$main" 173 445 # Iniciar
wait_window '^Mensagem$' 20 || { fail "no question (code 0) after Iniciar"; exit 1; }
first=$win
click "$first" 300 150 # OK
wait_gone '^Mensagem$' 10 || fail "the question stayed after OK"
start=$SECONDS
# The update blocks the window's thread; the next "Mensagem" is code 7.
if wait_window '^Mensagem$' 600; then
  took=$((SECONDS - start))
  ok "\"Mensagem\" (code 7) after an update of $took s"
  check_title "$win" Mensagem
  sleep 0.5
  shot "$win" wine-msg-7
  click "$win" 300 150 # OK
  start=$SECONDS
  if timeout 60 tail --pid="$program" -f /dev/null; then
    ok "the program ended $((SECONDS - start)) s after OK"
  else
    fail "the program did not end within 60 s after OK"
  fi
else
  fail "no \"Mensagem\" (code 7) within 600 s"
fi
stop_units || status=1
"$host/tests/e2e/kronex-e2e-check" "$run/unit/dump" "$run/unit/transcript.txt" \
  "$WINEPREFIX/drive_c/TEXTO2.TXT" || status=1

if [ "$status" -eq 0 ]; then
  echo "the window under wine: PASSED (screenshots in $run/shots)"
else
  echo "the window under wine: FAILED (logs and screenshots in $run)"
fi
exit "$status"
