#!/bin/sh
# Runs the fuzz targets for a chosen time, all at once, each in a process of
# its own under nice. Usage (from the repository root):
#   fuzz/run.sh [SECONDS] [TARGET...]     default: 600 seconds, every target
# Builds the `fuzz` preset first. The working corpora grow under
# build/fuzz/corpora/<target> (seeded from fuzz/corpus/<target>); logs and any
# finding go to build/fuzz/logs and build/fuzz/findings. Exits 1 when a
# target found a crash, leak or time-out.
set -eu
cd "$(dirname "$0")/.."
seconds=${1:-600}
[ $# -gt 0 ] && shift

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(scripts/jobs.sh)"
# Every target the build defines, as its configure step listed them.
targets=${*:-$(cat build/fuzz/fuzz/targets.txt)}
mkdir -p build/fuzz/logs build/fuzz/findings

pids=""
for t in $targets; do
  mkdir -p "build/fuzz/corpora/$t"
  cp -n "fuzz/corpus/$t"/* "build/fuzz/corpora/$t/" 2>/dev/null || true
  nice -n 10 "build/fuzz/fuzz/$t" "build/fuzz/corpora/$t" \
    -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="build/fuzz/findings/$t-" >"build/fuzz/logs/$t.log" 2>&1 &
  pids="$pids $!"
done

status=0
for p in $pids; do wait "$p" || status=1; done

for t in $targets; do
  log="build/fuzz/logs/$t.log"
  last=$(grep -E '^#[0-9]+' "$log" | tail -n 1)
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  echo "$t: ${runs:-?} executions; last status: $last"
done
if ls build/fuzz/findings/* >/dev/null 2>&1; then
  echo "findings:"; ls build/fuzz/findings
  status=1
fi
exit $status
