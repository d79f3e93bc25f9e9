#!/usr/bin/env bash
# Installs what is missing, builds, and starts the updater with a simulated
# unit on COM3, so that a whole update can be tried without hardware.
#
# The unit and the program share a private device namespace for this run
# (build/demo): COM3 is kronex-devsim at the real line rate, every other COM
# port is missing, and drive C: is build/demo/kronex/drive_c. Started on its
# own, kronex-atu uses the user's namespace and real ports.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh
install_deps
scripts/build.sh
build_dir=${BUILD_DIR:-build}

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display to show the window on: run it under a virtual one with 'xvfb-run -a scripts/run.sh' (apt-get install xvfb)." >&2
  exit 1
fi

demo=$(realpath -m "$build_dir/demo")
rm -rf "$demo"
mkdir -p "$demo/kronex/dosdevices" "$demo/unit"
for n in $(seq 1 16); do
  [ "$n" -eq 3 ] || ln -s /nonexistent "$demo/kronex/dosdevices/com$n"
done
export XDG_STATE_HOME="$demo"

start_unit "$build_dir/tools/devsim/kronex-devsim" "$demo/unit" --com 3 --baud 166667 --dump "$demo/unit"

echo "Simulated unit on COM3. Press \"Iniciar\", then OK."
status=0
"$build_dir/app/kronex-atu" || status=$?

stop_units || true
echo "Diagnostic file (C:\\TEXTO2.TXT): $demo/kronex/drive_c/TEXTO2.TXT"
echo "The unit's commands: $demo/unit/transcript.txt; its memories: $demo/unit/*.bin"
exit "$status"
