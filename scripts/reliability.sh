#!/usr/bin/env bash
# The reliability checks, and docs/RELIABILITY.md from their results:
#   - the fault matrix: every fault kind at every exchange of a whole update;
#   - power lost at every exchange, then a second whole update;
#   - the unit vanishing at each phase and the program killed mid-update,
#     over pseudo-terminals with kronex-devsim;
#   - libFuzzer on the exchange, the commands, a whole session and release
#     files (clang, AddressSanitizer and UndefinedBehaviorSanitizer);
#   - the whole test suite built and run under both sanitizers (leak checks
#     included: 10,000 opens and closes, 200 whole updates in one process);
#   - broken releases given to the build step.
#
#   scripts/reliability.sh [--ci] [PART...]
#
# PART: matrix (the fault matrix and the reruns), real (vanished unit,
# killed program), fuzz, asan, broken, report; without one, all of them in
# that order. Each part leaves its logs in build-reliability/ and the report
# is made from them alone, so parts may run apart or side by side (CI does).
# --ci: shorter fuzzing, and the report goes to build-reliability/ only.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh

fuzz_seconds=60
report=docs/RELIABILITY.md
command="scripts/reliability.sh"
parts=()
for arg; do
  case $arg in
  --ci)
    command="scripts/reliability.sh --ci"
    fuzz_seconds=15
    report="build-reliability/RELIABILITY.md"
    ;;
  matrix | real | fuzz | asan | broken | report) parts+=("$arg") ;;
  *)
    echo "usage: $0 [--ci] [matrix|real|fuzz|asan|broken|report]..." >&2
    exit 2
    ;;
  esac
done
[ ${#parts[@]} -gt 0 ] || parts=(matrix real fuzz asan broken report)
wants() { [[ " ${parts[*]} " == *" $1 "* ]]; }

jobs=$(nproc)
work="build-reliability"
mkdir -p "$work"
build=${BUILD_DIR:-build}
if wants fuzz || wants asan; then
  install_deps fuzz
fi
if wants matrix || wants real || wants broken; then
  BUILD_DIR=$build scripts/build.sh
fi

# How many inputs a fuzzing log says were run.
fuzz_runs() { grep -o 'stat::number_of_executed_units: [0-9]*' "$1" | tail -1 | grep -o '[0-9]*$'; }
fuzz_targets=(fuzz_exchange fuzz_commands fuzz_session fuzz_release fuzz_record)

if wants matrix; then
  echo "== fault matrix"
  "$build/tests/reliability/kronex-fault-matrix" | tee "$work/matrix.log" | tail -n 2
  echo "== interrupted, then run again (records kept, emptied, beside neighbours')"
  nice "$build/tests/reliability/kronex-fault-matrix" --rerun | tee "$work/rerun.log" | tail -n 2
fi

if wants real; then
  echo "== vanished unit, killed program (pseudo-terminals, kronex-devsim)"
  nice "$build/tests/reliability/kronex-real-faults" | tee "$work/real.log"
fi

if wants fuzz; then
  echo "== fuzzing, ${fuzz_seconds} s a target"
  cmake --preset fuzz >/dev/null
  cmake --build --preset fuzz
  for target in "${fuzz_targets[@]}"; do
    corpus="$work/corpus/$target"
    mkdir -p "$corpus"
    log="$work/$target.log"
    # The seeds first, then new inputs; any sanitizer report or failed check stops it.
    "build-fuzz/tests/fuzz/$target" -runs=0 "tests/fuzz/corpus/$target" >"$log" 2>&1
    "build-fuzz/tests/fuzz/$target" -max_total_time="$fuzz_seconds" -print_final_stats=1 \
      -artifact_prefix="$work/$target-" "$corpus" "tests/fuzz/corpus/$target" >>"$log" 2>&1
    echo "$target: $(fuzz_runs "$log") inputs, no finding"
  done
fi

if wants asan; then
  echo "== the test suite under AddressSanitizer and UndefinedBehaviorSanitizer"
  cmake --preset asan >/dev/null
  cmake --build --preset asan
  ctest --preset asan -j "$((jobs + 1))" | tee "$work/asan.log" | tail -n 3
fi

if wants broken; then
  echo "== broken releases"
  # The cases are the unit test's (tests/unit/embed_step_test.cpp), which
  # asserts that the build step refuses each one naming the entry and the
  # rule; it leaves each release and the step's message in the folder.
  bad=$(realpath -m "$work/bad")
  rm -rf "$bad"
  mkdir -p "$bad"
  KRONEX_BROKEN_RELEASES_DIR=$bad "$build/tests/unit/kronex-unit-tests" \
    --gtest_filter=EmbedStep.RefusesBrokenReleasesNamingEntryAndRule >"$bad/test.log" 2>&1 ||
    { cat "$bad/test.log"; exit 1; }
  for f in "$bad"/*.message; do
    echo "$(basename "$f" .message): $(sed "s|$bad/||" "$f")"
  done
fi

wants report || exit 0
# The report, from the parts' logs alone.
matrix=$(grep -m1 'cases over' "$work/matrix.log")
rerun_kept=$(grep -m1 'interrupted and rerun, records kept' "$work/rerun.log")
rerun_emptied=$(grep -m1 'interrupted and rerun, records emptied' "$work/rerun.log")
rerun_neighbours=$(grep -m1 'interrupted and rerun, records kept beside' "$work/rerun.log")
rerun_lost=$(grep '^records emptied: power lost' "$work/rerun.log" | sed 's/^records emptied: power lost /- /' || true)
vanished=$(grep '^unit vanished' "$work/real.log" | sed 's/^/    /')
killed=$(grep -A3 '^program killed' "$work/real.log" | sed 's/^/    /')
fuzz_rows=""
for target in "${fuzz_targets[@]}"; do
  fuzz_rows+="| \`$target\` | $fuzz_seconds s | $(fuzz_runs "$work/$target.log") | none |"$'\n'
done
asan=$(grep -m1 'tests passed' "$work/asan.log")
bad=$(realpath -m "$work/bad")
bad_rows=""
for f in "$bad"/*.message; do
  [ -e "$f" ] || { echo "no broken release left in $bad" >&2; exit 1; }
  bad_rows+="| $(basename "$f" .message) | \`$(sed "s|$bad/||" "$f")\` |"$'\n'
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
command, the status byte of a read whose block is not erased next, noise)
the update completes, and the unit's three memories and the diagnostic file
are exactly those worked out from the release for a clean update; a failed
compatibility check is reported and tried again; otherwise the session ends
at that exchange, with no further exchange, no success message, no
diagnostic file and the bar where it was. The reads of the top block and of
the identity block, erased next, must be acknowledged: another status ends
the session there, before the erase. In every case: no unbounded wait,
every handle closed, the program asked to end or back to idle.

    $matrix

A seventh fault kind, "unit vanished", stands for an adapter pulled out or a
unit switched off with its adapter: from exchange k on every transfer on the
port fails at once. Its rules are those of silence, and besides: at most the
failed read itself and the scan's remaining handshake tries (a write and a
read each) are tried on the failed port, never a wait polling it.

A sample of the matrix runs in the regular test suite (\`fault_matrix.sample\`).

## Vanished unit

kronex-devsim killed (\`SIGKILL\`: its pseudo-terminal hangs up, as a pulled
USB adapter's port does) while the start button's workflow, in a child
process on the platform's own serial calls, is in each phase
(\`build/tests/reliability/kronex-real-faults\`). The program's CPU time is
the scheduler's count from the moment of the kill to the program's end;
goal: under 0.05 s. Before the change below, a unit vanishing during an
exchange cost 4.5 s of CPU in 5.0 s (with the window, on an idle machine;
this tool gave 1.7 to 2.4 s in 4.7 s on a machine loaded by other builds):
every read on the dead line failed at once and the 5000 ms waits called it
again and again. In the scan and the pause each try is one failed call, so
those were already cheap.

$vanished

The choice: the exchange gives up at once on a failed port, rather than a
failed read waiting as a timed-out read would. A port fails when a transfer
cannot even start (Windows: \`ReadFile\`/\`WriteFile\` failing with an error
other than \`ERROR_IO_PENDING\`, as on a removed device; Linux: the line hung
up, which the serial layer now reports as \`ERROR_GEN_FAILURE\` instead of an
empty read). Nothing can come through such a port, so the outcome is the
one a silent unit gives (the same failed step, no message, nothing more
sent); only the useless wait goes. Waiting instead would keep the window
frozen for 5 s per exchange, would have to guess a wait for the 101
handshake tries after the first run command (101 × 100 ms), and would break
the rule that a transfer on a port that cannot be opened fails at once,
which keeps the scan of missing ports free. The fault matrix's rules all
hold either way (0 rule breaks above, the new kind included); a wait
polling a failed port now breaks one.

## Killed program

The workflow in a child process killed (\`SIGKILL\`) while it waits at a
chosen exchange (kronex-devsim \`--deaf-at K\` holds it there), then a second
copy run against the same unit; the unit's memories (\`--dump\`) and the
diagnostic file compared byte for byte with a clean update's:

$killed

A kill between the erase and the write of the unit's top block or identity
block leaves them erased, as a power cut there does; the record of them
kept on the PC puts them back at the next run (next section).

## Interrupted, then run again

A whole update of the sample release loses power before each exchange k
(the unit answers nothing from there on) and inside each erase and write
(below); the unit comes back in update mode with whatever its memories hold,
and a second whole update runs. All on the virtual clock, the device model
keeping its memories across the power cycle (\`kronex-fault-matrix --rerun\`;
samples run in the regular suite as \`fault_matrix.rerun_sample\`,
\`fault_matrix.rerun_sample_emptied\` and
\`fault_matrix.rerun_sample_neighbours\`). Each cut is rerun three times,
from the same state of the unit:

- Records kept: the session's folder of unit records (\`Workflow::unitRecords\`;
  the program's default \`%ProgramData%\\KRONEX\` or \`\$XDG_STATE_HOME/kronex\`,
  here a folder of the test's own) is the same for the cut update and the
  rerun, as on the PC that ran the cut update. The rule: every rerun
  completes, the unit's three memories and the diagnostic file are exactly
  those worked out from the release for a clean update, and no record is
  left behind.
- Records emptied: the folder is emptied before the rerun, as on another
  PC. The rule: exactly the cuts listed below end otherwise than a clean
  update, every other one ends exactly as one, and no rerun calls a unit
  whose serial number and unit bytes are blank "updated". The listed cuts
  are those from the start of the erase of the unit's top block (target 0,
  0xFF80) or identity block (0x2000) to the end of the write that follows
  that erase at once, while the block's own bytes are not all back (all 128
  of the top block; bytes 0-5 of the identity); the matrix asserts that set,
  so an erase of an own block moved away from its write fails it. No rerun
  calls a unit "updated" whose identity reads cut (below).
- Records kept beside neighbours': the folder as the cut update left it,
  plus the records of three neighbouring units of the same kind, all
  updated before, whose top blocks equal this unit's as an update leaves it:
  292A1BE2 (every 1-bit of 290A1BC2 and more), 290A1BC0 (a subset of its
  1-bits) and 290A1BC2 with other unit bytes. The rule: every rerun either
  ends exactly as a clean update or, where the unit's identity reads cut and
  so no longer tells it from its neighbours, stops before erasing anything,
  leaving the unit exactly as the cut left it; no neighbour's record is
  taken, changed or deleted; and no unit ever ends with another's bytes.

    $rerun_kept
    $rerun_emptied
    $rerun_neighbours

The cuts that end otherwise than a clean update with the records emptied,
how the rerun ended and what differs (addresses in hexadecimal; "left
erased": 0xFF where a clean update has the unit's own bytes):

$rerun_lost

### What the session does about it

The unit's own blocks are its top block (target 0, 0xFF80) and its serial
number and unit bytes (identity bytes 0-5, 0x2000): no release carries them,
and the session erases both blocks and writes them back. The reads of both
must be whole and acknowledged (status 0xAA) before their erase. The session
keeps them on the PC while it runs: one record per unit
(\`unit-<serial number>-<unit bytes>.record\` in the folder of unit records)
with the port, the time, the release and a checksum, written to a temporary
file, flushed and renamed into place, and removed when the update completes.

**A record goes back into its own unit and no other.** The rule, settled
from the compatibility check's read before the session's first erase:

- An identity is *cut* when it reads the way the unit model below leaves a
  cut one: bytes 0-5 blank; or, on a unit whose top block carries the mark
  an update sets (the identity is erased only after the top block is
  written), its first byte's upper four bits set (an erase stopped at or
  after byte 0) or nothing past byte 5 (a write stopped in bytes 0-5). Where
  the identity may be cut, the session reads the top block first (one read,
  nothing erased). Every other identity is *intact*.
- An intact identity takes only a record whose bytes 0-5 equal it, whose
  top block fits the unit's (every 1-bit of the kept block, with its mark,
  still set: \`(read & kept) == kept\`). No other record, however well its
  bits fit: every 1-bit of 290A1BC2 is set in 292A1BE2.
- A cut identity takes a record only when exactly one record fits both
  blocks that way (copies of one record count as one), no live session
  holds it, and it is owned by the user, the Administrators or SYSTEM (on
  Windows, where the folder is shared; another user's record only on the
  technician's word in \`kronex-update\`, never in the window). Otherwise
  the session stops before its first erase: \`identity_lost\` in
  \`kronex-update\`, which never lists such a unit as ready; silently in the
  window.
- A session holds its unit's record for its whole life with an operating
  system lock on \`unit-....record.lock\` beside it (\`flock\` on Linux, an
  unshared handle on Windows), in one process or several; the lock goes with
  the process however it ends. No other session takes, changes or deletes a
  held record: a second unit that reads as the same unit stops.
- \`kronex-update\` first proves that the PC can keep the record (the
  folder exists and takes a flushed file, the record's name is free for a
  file) and stops with nothing erased, naming the folder and the cause, when
  it cannot; the window goes on without a record, except for a cut identity,
  which it cannot finish without one.
- \`kronex-update restore\` applies the same fit, the top block included,
  refuses a record that is not the unit's (exit 1, only reads sent), and
  keeps the unit's blocks as they were in \`before-restore/\` of the records
  folder before it erases anything.

With the records kept every cut ends as a clean update. Without a record, a
blank or cut identity or a blank top block is never written back: the
session stops before erasing anything (\`kronex-update restore\` writes
both blocks back from a record copied from the PC that began the update). A
top block cut part-way but not wholly blank, on a unit whose identity is
intact, cannot be told from the unit's own without the record: it is written
back as read, which is what the lines above reported as updated are. An
intact unit whose serial number begins 29F and that was updated before reads
like an identity cut at its first byte: it needs its record too (see the
findings).

### The unit model's assumptions

- An erase sets 512 bytes to 0xFF from the address it is given, whatever
  its alignment, wrapping past 0xFFFF. Every erase of an update is on a
  512-byte boundary except those of the top blocks: the one at 0xFF80 clears
  0xFF80-0xFFFF and 0x0000-0x017F, where neither the release nor the unit
  holds anything. A part that erases whole aligned pages would clear
  0xFE00-0xFFFF instead: 384 bytes below the top block that the session
  neither reads nor writes, and that hold nothing in the model or after an
  update of the sample release; whatever a real unit kept there would go at
  every update, cut or not, and the model would not show it.
- A write programs 128 bytes and only clears bits: over bytes that were not
  erased it leaves old & new. The session erases every block before it
  writes it, so a clean update's result does not depend on this.
- Power lost inside an erase (kronex-devsim \`--power-cut-at K
  --power-cut-after B\`): the first B bytes from the address are 0xFF, byte B
  has its upper four bits set (old | 0xF0), the rest are as they were.
  Inside a write: the first B bytes hold old & new, byte B old & (new |
  0x0F), the rest their old bytes; a block erased and then cut in its write
  reads as the new bytes up to B, one mixed byte, then 0xFF. Inside a
  data-memory write the first B bytes are written. No reply goes out, and
  the unit answers nothing until it is switched on again. Either way a cut
  block keeps every 1-bit of what it held or was being given
  (\`(read & kept) == kept\`), whatever order a real part works in.
- The depths the matrix cuts at: inside the erase and the write of the top
  block and of the identity block B = 0, 1, 5, 6, 64, 127, 128 and, for the
  erases, 511 and 512 (all done, the reply lost); half-way inside every other
  erase (256) and write (64).

## Fuzzing

clang 14 libFuzzer with AddressSanitizer and UndefinedBehaviorSanitizer, from
the seed corpus in \`tests/fuzz/corpus\`. \`fuzz_session\` damages the
simulated unit's replies (lost, cut, emptied, noise, another status) during a
whole update and checks that the unit's own identity bytes survive, that
success is reported only with a full bar and the diagnostic file, that the
port is closed, and that the run ends or goes back to idle. Its seeds
include inputs that leave some 2,900 replies alone and then give the read of
the top block or of the identity block another status or lose the identity
write's reply, so that fuzzing starts from the exchanges around the unit's
own blocks, near the end of an update. \`fuzz_record\` reads arbitrary
texts as a unit record and checks that whatever is taken writes back as a
text taken again as the same record.

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

- A unit that vanished mid-exchange made the program spin on a dead port
  for up to 5 s of CPU per wait; fixed (Vanished unit, above).
- Power lost between the erase and the write of the top block or the
  identity block lost the unit's own bytes for good, and the rerun called
  the unit with a blank serial number updated. The session now keeps a
  record of both blocks on the PC before it erases either and puts them
  back at the rerun; without the record it stops before erasing (Interrupted,
  then run again, above).
- The fault matrix compared no unit memory: every case that completes now
  compares the three memories and the diagnostic file with the update
  worked out from the release, and the cuts that lose part of the unit
  are asserted as an exact set.
REPORT
echo "Report: $report"
