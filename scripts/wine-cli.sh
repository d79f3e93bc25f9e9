#!/usr/bin/env bash
# kronex-update.exe under wine against kronex-devsim: `ports`, `info` and a
# whole update found by the scan on COM3 (`info` asks a second unit on COM4) (checked like the window's update
# under wine), then two units at once, COM3 and COM4, where the unit on COM4
# refuses a data block: COM3 must complete and COM4 must name the step, the
# command and the reason. Logs in build-windows/cli.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh
[ "${1:-}" = --no-build ] || scripts/windows-build.sh
use_wine

host=build-windows/host
exe=build-windows/cli/kronex-update.exe
run=build-windows/cli-run
rm -rf "$run"
mkdir -p "$run"

# kronex-devsim in $run/NAME on a new pseudo-terminal, its memories in
# $run/NAME/dump; its path in $pty.
unit() {
  local name=$1
  shift
  start_unit "$host/tools/devsim/kronex-devsim" "$run/$name" --dump "$run/$name/dump" "$@"
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
unit one
one=$pty
unit asked
map_ports 3="$one" 4="$pty"
rm -f "$WINEPREFIX/drive_c/TEXTO2.TXT"
expect 0 ports ports
[ "$(grep -c 'a unit in update mode answers' "$run/ports.out")" -eq 2 ] ||
  { echo "COM3 and COM4 expected to answer"; status=1; }
expect 0 info info --port 4
grep -q 'has release 233; this program installs 25' "$run/info.out" || status=1
expect 0 update update --yes
stop_units || true
"$host/tests/e2e/kronex-e2e-check" "$run/one/dump" "$run/one/transcript.txt" \
  "$WINEPREFIX/drive_c/TEXTO2.TXT" || status=1

echo
unit three
three=$pty
unit four --serial 290A1BC3 --nak-at 300 # another unit: two that read as one are never updated at once
map_ports 3="$three" 4="$pty"
expect 1 two update --port 3 --port 4 --yes --json
stop_units || true
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
