#!/usr/bin/env bash
# A whole update under wine over the real kernel32 serial path: the Windows
# build of the workflow (kronex-e2e-update.exe) finds kronex-devsim on COM3
# after a line where nothing answers on COM1 and a missing COM2, and writes
# the embedded release into it. The unit's memories, its command log and
# C:\TEXTO2.TXT are then checked against what a whole update must leave.
#
# Wine maps COMn to a Unix device through HKLM\Software\Wine\Ports, which its
# mount manager turns into $WINEPREFIX/dosdevices/comN when the wine server
# starts (a link made by hand is replaced there by the ports it detects).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/windows-build.sh
. scripts/wine-env.sh
wine_prefix_ready

host=build-windows/host
run=build-windows/e2e
rm -rf "$run"
mkdir -p "$run/silent" "$run/unit/dump"
rm -f "$WINEPREFIX/drive_c/TEXTO2.TXT"

pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  "$WINESERVER" -k 2>/dev/null || true
}
trap cleanup EXIT

# kronex-devsim on a new pseudo-terminal; the terminal's path in $pty.
start_unit() {
  local dir=$1
  shift
  "$host/tools/devsim/kronex-devsim" --print-path --transcript "$dir/transcript.txt" "$@" \
    >"$dir/path" 2>"$dir/stderr" &
  pids+=($!)
  for _ in $(seq 50); do [ -s "$dir/path" ] && break; sleep 0.1; done
  pty=$(head -n 1 "$dir/path")
  if [ -z "$pty" ]; then
    echo "kronex-devsim did not start: $(cat "$dir/stderr")" >&2
    exit 1
  fi
}
# COM1: answers none of the eleven handshakes the scan tries there.
start_unit "$run/silent" --handshake-from 12
silent=$pty
start_unit "$run/unit" --dump "$run/unit/dump"
unit=$pty

# COM1 and COM3 on the terminals, every other port up to COM16 without a
# device. Wine still opens such a port, but every call on it then fails with
# ERROR_INVALID_FUNCTION (docs/WINDOWS.md); a port wine does not know at all
# would be taken by the serial devices it finds on this machine.
{
  printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]\r\n'
  for n in $(seq 1 16); do
    case $n in 1) dev=$silent ;; 3) dev=$unit ;; *) dev= ;; esac
    printf '"COM%d"="%s"\r\n' "$n" "$dev"
  done
} >"$run/ports.reg"
"$WINE" reg import "$(realpath "$run/ports.reg")" >/dev/null 2>&1
"$WINESERVER" -k 2>/dev/null || true
# A server that stays up keeps the mapping made at its start for the run.
"$WINESERVER" -p >/dev/null 2>&1
"$WINE" cmd /c exit >/dev/null 2>&1
for port in com1:"$silent" com3:"$unit"; do
  link=$(readlink "$WINEPREFIX/dosdevices/${port%%:*}" || true)
  if [ "$link" != "${port#*:}" ]; then
    echo "wine did not map ${port%%:*} to ${port#*:} (the link is '${link}')" >&2
    exit 1
  fi
done
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

for p in "${pids[@]}"; do kill -TERM "$p"; wait "$p" || status=1; done
pids=()

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
