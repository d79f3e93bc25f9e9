#!/usr/bin/env bash
# A whole update under wine over the real kernel32 serial path: the Windows
# build of the workflow (kronex-e2e-update.exe) finds kronex-devsim on COM3
# after a line where nothing answers on COM1 and a missing COM2, and writes
# the embedded release into it. The unit's memories, its command log and
# C:\TEXTO2.TXT are then checked against what a whole update must leave.
# (How wine maps COMn to a terminal: map_ports in scripts/lib.sh.)
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh
scripts/windows-build.sh
use_wine

host=build-windows/host
run=build-windows/e2e
rm -rf "$run"
mkdir -p "$run"
rm -f "$WINEPREFIX/drive_c/TEXTO2.TXT"

# COM1: answers none of the eleven handshakes the scan tries there.
start_unit "$host/tools/devsim/kronex-devsim" "$run/silent" --handshake-from 12
silent=$pty
start_unit "$host/tools/devsim/kronex-devsim" "$run/unit" --dump "$run/unit/dump"
unit=$pty

# COM1 and COM3 on the terminals, every other port up to COM16 without a
# device.
map_ports 1="$silent" 3="$unit"
echo "COM1 -> $silent (nothing answers), COM2 without a device, COM3 -> $unit (kronex-devsim)"

status=0
start=$SECONDS
# Ten minutes at most: a transfer that never completes must not hold CI.
# KRONEX_E2E_TRACE=1 logs every serial call, not only the failed ones.
timeout 600 "$WINE" build-windows/tests/e2e/kronex-e2e-update.exe \
  ${KRONEX_E2E_TRACE:+--trace} >"$run/update.log" 2>&1 || status=$?
cat "$run/update.log"
[ "$status" -ne 124 ] || echo "the update did not end within ten minutes: stopped"
echo "(the update under wine took $((SECONDS - start)) s)"

stop_units || status=1

echo
unanswered=$(grep -c -x 'HANDSHAKE unanswered' "$run/silent/transcript.txt" || true)
lines=$(wc -l <"$run/silent/transcript.txt")
if [ "$unanswered" -eq 11 ] && [ "$lines" -eq 11 ]; then
  echo "COM1: the eleven handshakes went out and nothing else"
else
  echo "COM1: $lines lines, $unanswered unanswered handshakes; eleven handshakes and nothing else expected"
  status=1
fi
"$host/tests/e2e/kronex-e2e-check" "$run/unit/dump" "$run/unit/transcript.txt" \
  "$WINEPREFIX/drive_c/TEXTO2.TXT" || status=1

if [ "$status" -eq 0 ]; then
  echo "wine end-to-end update: PASSED"
else
  echo "wine end-to-end update: FAILED (logs in $run)"
fi
exit "$status"
