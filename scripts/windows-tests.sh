#!/usr/bin/env bash
# Cross-builds for Windows and runs the GoogleTest suites and the sampled
# fault matrix under wine64, headless. Full logs in build-windows/test-logs.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh
scripts/windows-build.sh
use_wine

logs=build-windows/test-logs
mkdir -p "$logs"
status=0
run() {
  local name=$1 start=$SECONDS
  shift
  echo "== $name (under wine)"
  if timeout 900 "$WINE" "$@" >"$logs/$name.log" 2>&1; then
    grep -E '^\[(==========|  PASSED  |  FAILED  )\]|^fault matrix:' "$logs/$name.log" || true
  else
    status=1
    grep -E '^\[(==========|  PASSED  |  FAILED  )\]|^fault matrix:|Failure|FAILED' "$logs/$name.log" ||
      tail -n 20 "$logs/$name.log"
    echo "$name FAILED (log: $logs/$name.log)"
  fi
  echo "   $((SECONDS - start)) s"
}
run kronex-unit-tests build-windows/tests/unit/kronex-unit-tests.exe
run kronex-win32-tests build-windows/tests/win32/kronex-win32-tests.exe
run kronex-fault-matrix build-windows/tests/reliability/kronex-fault-matrix.exe --sample
exit "$status"
