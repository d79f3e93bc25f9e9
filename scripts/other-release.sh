#!/usr/bin/env bash
# Builds the updater with two more valid releases than the sample, written by
# the sample's generator, and for each runs the tests that use the release
# compiled in (ctest label `embedded`: the others do not depend on it), then a whole
# update of that release against kronex-devsim: COM1 a unit that never
# answers the handshake, COM2 missing, the unit on COM3. What the unit holds
# afterwards is checked against what the release says.
#  - "other": another shape than the sample (fewer modules and makers, other
#    segment and section lengths, other texts, release number and erase
#    addresses);
#  - "small": the smallest update the layout allows in its data part (one
#    maker, so five data sections, one of them empty), well under 500
#    exchanges.
# Both share one build folder: the second build only re-embeds the release
# and relinks. BUILD_DIR may name a build made already (CI gives build/); it
# gets its own release back at the end.
#
# The same steps serve for a real release: give the build its file with
# -DKRONEX_RELEASE_FILE (docs/DEVELOPING.md, "Building for a new release").
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh
install_deps
build=${BUILD_DIR:-build-other-release}
own_release=$(sed -n 's/^KRONEX_RELEASE_FILE:[A-Z]*=//p' "$build/CMakeCache.txt" 2>/dev/null || true)

# The generator first, from this same build folder.
cmake --preset default -B "$build" ${BUILD_TYPE:+-DCMAKE_BUILD_TYPE="$BUILD_TYPE"} >/dev/null
cmake --build "$build" --target kronex-gen-release

# rehearse NAME GENERATOR-OPTIONS...: the build, the suite and a whole update
# with the release the options describe.
rehearse() {
  name=$1
  shift
  release=$build/$name-release.txt
  "$build/tools/kronex-gen-release" "$@" "$release"
  echo "== $release: $(wc -l <"$release") entries"

  echo "== the build with it (its layout is checked on the way)"
  BUILD_DIR=$build scripts/build.sh -DKRONEX_RELEASE_FILE="$(realpath "$release")"

  echo "== the tests that use the release compiled in (label embedded)"
  if ! ctest --test-dir "$build" --output-on-failure -j "$(($(nproc) + 1))" -L embedded -LE matrix \
    >"$build/$name-suite.log"; then
    cat "$build/$name-suite.log"
    exit 1
  fi
  tail -n 3 "$build/$name-suite.log"

  echo "== a whole update against kronex-devsim"
  run=$(realpath -m "$build/$name-release-run")
  rm -rf "$run"
  mkdir -p "$run/kronex/dosdevices" "$run/silent" "$run/unit"
  ln -s /nonexistent "$run/kronex/dosdevices/com2"
  export XDG_STATE_HOME=$run
  start_unit "$build/tools/devsim/kronex-devsim" "$run/silent" --com 1 --handshake-from 12
  start_unit "$build/tools/devsim/kronex-devsim" "$run/unit" --com 3 --dump "$run/unit"

  status=0
  timeout 300 "$build/tests/e2e/kronex-e2e-update" >"$run/update.log" 2>&1 || status=$?
  tail -n 8 "$run/update.log"
  stop_units || status=1
  "$build/tests/e2e/kronex-e2e-check" "$run/unit" "$run/unit/transcript.txt" \
    "$run/kronex/drive_c/TEXTO2.TXT" || status=1
  [ "$status" -eq 0 ] || { echo "update with the $name release: FAILED (logs in $run)"; exit 1; }
  echo "build, suite and update with the $name release ($(grep -vc '^HANDSHAKE' "$run/unit/transcript.txt") exchanges): PASSED"
}

rehearse other --date 03/02/2027 --caption "Firmware versão 1.31" \
  --number 31 --modules 9 --absent 4 --main 3,0,5,1,0,7 --erase 9000,6000 --makers 5 \
  --sections 3,1,6,2,0,4,5,2,1,3,9,2,1,300 --target1 1,6 --seed 2027
rehearse small --date 15/06/2027 --caption "Firmware versão 1.32" \
  --number 32 --modules 1 --absent 0 --main 1,2,0,1,0,1 --erase 5000,5200 --makers 1 \
  --sections 3,0,2,1,4 --target1 1,2 --seed 2032
if [ -n "$own_release" ]; then
  echo "== $build with its own release again ($own_release)"
  BUILD_DIR=$build scripts/build.sh -DKRONEX_RELEASE_FILE="$own_release"
fi
