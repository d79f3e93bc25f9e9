#!/usr/bin/env bash
# The reliability checks, and docs/RELIABILITY.md from their results:
#   - the fault matrix: every fault kind at every exchange of a whole update;
#   - libFuzzer on the exchange, the commands, a whole session and release
#     files (clang, AddressSanitizer and UndefinedBehaviorSanitizer);
#   - the whole test suite built and run under both sanitizers (leak checks
#     included: 10,000 opens and closes, 200 whole updates in one process);
#   - broken releases given to the build step.
# --ci: shorter fuzzing, and the report goes to build-reliability/ only.
set -euo pipefail
cd "$(dirname "$0")/.."

fuzz_seconds=60
report=docs/RELIABILITY.md
command="scripts/reliability.sh"
if [ "${1:-}" = "--ci" ]; then
  command="scripts/reliability.sh --ci"
  fuzz_seconds=15
  report=build-reliability/RELIABILITY.md
fi
jobs=$(nproc)
work=build-reliability
mkdir -p "$work"

scripts/install-deps.sh clang libclang-rt-14-dev
BUILD_DIR=${BUILD_DIR:-build} scripts/build.sh
build=${BUILD_DIR:-build}

echo "== fault matrix"
"$build/tests/reliability/kronex-fault-matrix" | tee "$work/matrix.log" | tail -n 2
matrix=$(grep -m1 'cases over' "$work/matrix.log")

echo "== fuzzing, ${fuzz_seconds} s a target"
CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKRONEX_FUZZ=ON -DKRONEX_BUILD_GUI=OFF -DKRONEX_BUILD_TESTS=OFF >/dev/null
cmake --build build-fuzz
fuzz_rows=""
for target in fuzz_exchange fuzz_commands fuzz_session fuzz_release; do
  corpus="$work/corpus/$target"
  mkdir -p "$corpus"
  log="$work/$target.log"
  # The seeds first, then new inputs; any sanitizer report or failed check stops it.
  build-fuzz/tests/fuzz/$target -runs=0 "tests/fuzz/corpus/$target" >"$log" 2>&1
  build-fuzz/tests/fuzz/$target -max_total_time="$fuzz_seconds" -print_final_stats=1 \
    -artifact_prefix="$work/$target-" "$corpus" "tests/fuzz/corpus/$target" >>"$log" 2>&1
  runs=$(grep -o 'stat::number_of_executed_units: [0-9]*' "$log" | tail -1 | grep -o '[0-9]*$')
  echo "$target: $runs inputs, no finding"
  fuzz_rows+="| \`$target\` | $fuzz_seconds s | $runs | none |"$'\n'
done

echo "== the test suite under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKRONEX_SANITIZE=ON >/dev/null
cmake --build build-asan
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan -j "$jobs" -E 'fault_matrix.full' --output-on-failure \
  | tee "$work/asan.log" | tail -n 3
asan=$(grep -m1 'tests passed' "$work/asan.log")

echo "== broken releases"
sample=catalog/data/release.txt
embed="$build/catalog/kronex-release-embed"
bad="$work/bad"
mkdir -p "$bad"
awk -F'\t' -v OFS='\t' '$1 != 1003' "$sample" >"$bad/missing-FIM.txt"
awk -F'\t' -v OFS='\t' '$1 == 60 { $2 = substr($2, 1, 511) } 1' "$sample" >"$bad/line-of-511.txt"
awk -F'\t' -v OFS='\t' '$1 == 700 { $2 = tolower($2) } 1' "$sample" >"$bad/lower-case-hex.txt"
awk -F'\t' -v OFS='\t' '$1 == 3 { $2 = "vinte e cinco" } 1' "$sample" >"$bad/entry-3-not-a-number.txt"
awk -F'\t' -v OFS='\t' '$1 == 2 { $2 = "Firmware versão 1.25 de outubro" } 1' "$sample" >"$bad/caption-of-31.txt"
awk -F'\t' -v OFS='\t' '$1 == 829 { for (i = 0; i < 9; i++) { print 829 + 2 * i, sprintf("%0512d", 0); print 830 + 2 * i, "*" } }
                        $1 >= 829 { $1 += 18 } 1' "$sample" >"$bad/59-sections.txt"
awk -F'\t' -v OFS='\t' '$1 == 152 { $2 = "BMP" } 1' "$sample" >"$bad/maker-list-not-closed.txt"
awk -F'\t' -v OFS='\t' '$1 == 129 { $2 = "*" } 1' "$sample" >"$bad/no-main-image-end.txt"
bad_rows=""
for f in "$bad"/*.txt; do
  if "$embed" "$f" "$bad/out.cpp" 2>"$bad/message" >/dev/null; then
    echo "ACCEPTED: $f" >&2
    exit 1
  fi
  message=$(sed "s|$bad/||" "$bad/message")
  echo "$(basename "$f" .txt): $message"
  bad_rows+="| $(basename "$f" .txt) | \`$message\` |"$'\n'
done

mkdir -p "$(dirname "$report")"
cat >"$report" <<REPORT
# Reliability

Made by \`$command\` on $(date -u +%Y-%m-%d) ($(nproc) cores, $(uname -sr)).
Every figure below comes from that run; run the command again to repeat it.

## Fault matrix

Each exchange of a whole update of the sample release, with each fault kind
injected at that exchange (silence from it on, a status other than 0xAA, a
reply missing its last byte, a zero length byte, noise before 0x78, a reply
cut in half), run as a whole session on the virtual clock
(\`build/tests/reliability/kronex-fault-matrix\`). The rules: where the step's
outcome is ignored (the two erases before the data part, the final run
command, a read's status byte, noise) the update completes; a failed
compatibility check is reported and tried again; otherwise the session ends
at that exchange, with no further exchange, no success message, no
diagnostic file and the bar where it was. In every case: no unbounded wait,
every handle closed, the program asked to end or back to idle.

    $matrix

A sample of the matrix runs in the regular test suite (\`fault_matrix.sample\`).

## Fuzzing

clang 14 libFuzzer with AddressSanitizer and UndefinedBehaviorSanitizer, from
the seed corpus in \`tests/fuzz/corpus\`. \`fuzz_session\` damages the
simulated unit's replies (lost, cut, emptied, noise, another status) during a
whole update and checks that the unit's own identity bytes survive, that
success is reported only with a full bar and the diagnostic file, that the
port is closed, and that the run ends or goes back to idle.

| Target | Time | Inputs run | Findings |
|---|---|---|---|
$fuzz_rows
## Sanitizers

The whole test suite (unit, simulated unit, serial layer on real terminals,
whole updates over pseudo-terminals, widget tests, the fault-matrix sample)
built with \`-fsanitize=address,undefined -fno-sanitize-recover=all\` and run
with leak detection on:

    $asan

This includes the leak checks: 10,000 opens and closes of a real terminal
with the descriptor count unchanged (\`Resources.TenThousandOpensAndClosesLeaveNoDescriptor\`),
and 200 whole updates in one process with every handle closed, the
descriptor count unchanged and no leak reported
(\`Resources.TwoHundredWholeUpdatesInOneProcess\`).

## Broken releases

Each one given to the build step that embeds the release; every one stops
the build with the entry and the rule it breaks:

| Release | Message |
|---|---|
$bad_rows
## Findings

None of the runs above found a fault.
REPORT
echo "Report: $report"
