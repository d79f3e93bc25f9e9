#!/usr/bin/env bash
# Measures the updater against what the serial line allows (docs/PERFORMANCE.md):
# builds the programs in Release, runs every measurement several times and
# prints the table of medians, then writes it into docs/PERFORMANCE.md with
# the machine it ran on.
#
#   scripts/bench.sh           the full run (about four minutes)
#   scripts/bench.sh --smoke   every measurement once at a tiny setting, to
#                              check that the benchmark builds and runs; the
#                              document is left alone
#
# BUILD_DIR (default build-bench) and BUILD_TYPE (default Release) choose the
# build, as for scripts/build.sh (CMake preset "bench").
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh

smoke=0
case "${1:-}" in
  --smoke) smoke=1 ;;
  "") ;;
  *) echo "usage: scripts/bench.sh [--smoke]" >&2; exit 2 ;;
esac

install_deps
build_dir=${BUILD_DIR:-build-bench}
cmake --preset bench -B "$build_dir" ${BUILD_TYPE:+-DCMAKE_BUILD_TYPE="$BUILD_TYPE"} >/dev/null
cmake --build "$build_dir" --target kronex-bench
bench="$build_dir/bench/kronex-bench"

if [ "$smoke" -eq 1 ]; then
  exec "$bench" --smoke
fi

command -v strace >/dev/null || command -v perf >/dev/null || install_deps bench

doc=docs/PERFORMANCE.md
begin='<!-- bench table: begin -->'
end='<!-- bench table: end -->'
table=$(mktemp)
block=$(mktemp)
at_exit rm -f "$table" "$block"

load_before=$(cut -d' ' -f1-3 /proc/loadavg)
"$bench" --markdown "$table"
load_after=$(cut -d' ' -f1-3 /proc/loadavg)

cpu=$(sed -n 's/^model name[[:space:]]*:[[:space:]]*//p' /proc/cpuinfo | head -n 1)
commit=$(git rev-parse --short HEAD 2>/dev/null || echo unknown)
git diff --quiet HEAD 2>/dev/null || commit="$commit with local changes"
{
  echo "$begin"
  echo
  echo "Made by \`scripts/bench.sh\` on $(date -u '+%Y-%m-%d %H:%M UTC') (commit $commit)."
  echo
  echo "Machine: $(nproc) CPUs, ${cpu:-unknown CPU}; $(uname -s) $(uname -r); load average" \
       "(1, 5, 15 min) $load_before before the run, $load_after after."
  echo
  cat "$table"
  echo
  echo "$end"
} >"$block"

if [ -f "$doc" ] && grep -qF "$begin" "$doc" && grep -qF "$end" "$doc"; then
  awk -v begin="$begin" -v end="$end" -v block="$block" '
    $0 == begin { while ((getline line < block) > 0) print line; skipping = 1; next }
    $0 == end { skipping = 0; next }
    !skipping { print }
  ' "$doc" >"$doc.new"
  mv "$doc.new" "$doc"
else
  mkdir -p "$(dirname "$doc")"
  { echo "# Performance"; echo; cat "$block"; } >"$doc"
fi
echo "Table written to $doc"
