#!/usr/bin/env bash
# kronex-update.exe under wine against kronex-devsim: `ports`, `info` and a
# whole update found by the scan on COM3 (`info` asks a second unit on COM4) (checked like the window's update
# under wine), then two units at once, COM3 and COM4, where the unit on COM4
# refuses a data block: COM3 must complete and COM4 must name the step, the
# command and the reason. Logs in build-windows/cli.
set -euo pipefail
cd "$(dirname "$0")/.."
[ "${1:-}" = --no-build ] || scripts/windows-build.sh
. scripts/wine-env.sh
wine_prefix_ready

host=build-windows/host
exe=build-windows/cli/kronex-update.exe
run=build-windows/cli-run
rm -rf "$run"
mkdir -p "$run"

pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  "$WINESERVER" -k 2>/dev/null || true
}
trap cleanup EXIT

# kronex-devsim in $run/$1 on a new pseudo-terminal; its path in $pty.
start_unit() {
  local dir=$run/$1
  shift
  mkdir -p "$dir/dump"
  "$host/tools/devsim/kronex-devsim" --print-path --transcript "$dir/transcript.txt" \
    --dump "$dir/dump" "$@" >"$dir/path" 2>"$dir/stderr" &
  pids+=($!)
  for _ in $(seq 50); do [ -s "$dir/path" ] && break; sleep 0.1; done
  pty=$(head -n 1 "$dir/path")
  [ -n "$pty" ] || { echo "kronex-devsim did not start: $(cat "$dir/stderr")" >&2; exit 1; }
}
stop_units() {
  for p in "${pids[@]}"; do kill -TERM "$p"; wait "$p" || true; done
  pids=()
}

# COM3 and COM4 on terminals, every other port without a device (as in
# scripts/wine-e2e.sh). The server restarts to take the new mapping.
map_ports() {
  {
    printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]\r\n'
    for n in $(seq 1 16); do
      case $n in 3) dev=$1 ;; 4) dev=${2:-} ;; *) dev= ;; esac
      printf '"COM%d"="%s"\r\n' "$n" "$dev"
    done
  } >"$run/ports.reg"
  "$WINESERVER" -k 2>/dev/null || true
  "$WINE" reg import "$(realpath "$run/ports.reg")" >/dev/null 2>&1
  "$WINESERVER" -k 2>/dev/null || true
  "$WINESERVER" -p >/dev/null 2>&1
  "$WINE" cmd /c exit >/dev/null 2>&1
  [ "$(readlink "$WINEPREFIX/dosdevices/com3" || true)" = "$1" ] ||
    { echo "wine did not map com3 to $1" >&2; exit 1; }
}

status=0
expect() { # expect STATUS NAME COMMAND...
  local want=$1 name=$2 got=0 start=$SECONDS
  shift 2
  timeout 600 "$WINE" "$exe" "$@" >"$run/$name.out" 2>"$run/$name.err" || got=$?
  echo "\$ kronex-update $*   (exit $got, $((SECONDS - start)) s)"
  cat "$run/$name.out"
  if [ "$got" -ne "$want" ]; then
    echo "exit status $got, $want expected"
    status=1
  fi
}

# The unit asked for its identity (COM4) is not the one updated (COM3), so
# the updated unit's command log holds the update alone.
start_unit one
one=$pty
start_unit asked
map_ports "$one" "$pty"
rm -f "$WINEPREFIX/drive_c/TEXTO2.TXT"
expect 0 ports ports
[ "$(grep -c 'a unit in update mode answers' "$run/ports.out")" -eq 2 ] ||
  { echo "COM3 and COM4 expected to answer"; status=1; }
expect 0 info info --port 4
grep -q 'has release 233; this program installs 25' "$run/info.out" || status=1
expect 0 update update --yes
stop_units
"$host/tests/e2e/kronex-e2e-check" "$run/one/dump" "$run/one/transcript.txt" \
  "$WINEPREFIX/drive_c/TEXTO2.TXT" || status=1

echo
start_unit three
three=$pty
start_unit four --serial 290A1BC3 --nak-at 300 # another unit: two that read as one are never updated at once
map_ports "$three" "$pty"
expect 1 two update --port 3 --port 4 --yes --json
stop_units
grep -q '"outcome": "updated"' "$run/two.out" || status=1
grep -q '"failed_command": "DATA block 0039+80"' "$run/two.out" || status=1
grep -q '"reason": "refused with status 0x55"' "$run/two.out" || status=1
"$host/tests/e2e/kronex-e2e-check" "$run/three/dump" "$run/three/transcript.txt" \
  "$WINEPREFIX/drive_c/TEXTO2-290A1BC2-COM3.TXT" || status=1

if [ "$status" -eq 0 ]; then
  echo "kronex-update under wine: PASSED"
else
  echo "kronex-update under wine: FAILED (logs in $run)"
fi
exit "$status"
