#!/usr/bin/env bash
# Builds the benchmarks in Release (build-perf) and runs them: the Google Benchmark
# programs (each figure against its reference, summary table at the end), then
# quillon-sim's scripted runs for the peak memory and the cold start of the process.
#
#   bash tools/benchmark.sh                          # everything
#   bash tools/benchmark.sh --benchmark_filter=Ramp  # arguments go to quillon_benchmarks
#                                                # (default: 3 repetitions, medians)
#
# Run it on a quiet machine: the figures are wall-clock times.
set -euo pipefail
cd "$(dirname "$0")/.."

BUILD=${BENCH_DIR:-build-perf}
JOBS=${BENCH_BUILD_JOBS:-2}
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}

cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DQUILLON_BUILD_BENCHMARKS=ON -DQUILLON_BUILD_TESTS=OFF >/dev/null
cmake --build "$BUILD" -j"$JOBS" --target quillon_benchmarks quillon-sim >/dev/null

echo "== machine: load $(cut -d' ' -f1-3 /proc/loadavg), $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//'), $(awk '/MemTotal/ {printf "%.1f GiB", $2/1048576}' /proc/meminfo)"
echo
# Three repetitions, the median in the summary: the machine may be shared.
if [ $# -eq 0 ]; then
  set -- --benchmark_repetitions=3 --benchmark_report_aggregates_only=true
fi
status=0
"$BUILD/benchmarks/quillon_benchmarks" "$@" || status=1

# Peak memory (ru_maxrss) and wall time of whole scripted runs of quillon-sim.
echo
if [ ! -x /usr/bin/time ]; then
  echo "bench: /usr/bin/time (Debian package 'time') is needed for the memory figures" >&2
  exit 1
fi
report=$(mktemp)
trap 'rm -f "$report" "$report.time" "$report.err"' EXIT
printf '%-52s %10s %12s %8s  %s\n' "quillon-sim --scenario" "wall" "peak RSS" "ratio" "reference"
for s in startup testall-16 testall-160; do
  /usr/bin/time -f '%e %M' -o "$report.time" \
    "$BUILD/src/app/sim/quillon-sim" --scenario "benchmarks/scenarios/$s.json" --report "$report" >/dev/null 2>"$report.err" \
    || { cat "$report.err" >&2; status=1; }
  read -r wall rss_kb <"$report.time"
  rss_mb=$(awk -v k="$rss_kb" 'BEGIN {printf "%.1f", k/1024}')
  ratio=$(awk -v k="$rss_kb" 'BEGIN {printf "%.2f", k/1024/80}')
  verdict=$(grep -o '"overall": *"[A-Za-z]*"' "$report" | head -1 | sed 's/.*: *"//; s/"//')
  detected=$(grep -o '"detection": *"[A-Za-z. ]*"' "$report" | head -1 | sed 's/.*: *"//; s/"//')
  note="vs 80 MB; target < 1 (detection: $detected"
  [ "$s" != startup ] && note="$note, overall: $verdict"
  note="$note)"
  printf '%-52s %9ss %9s MB %8s  %s\n' "$s" "$wall" "$rss_mb" "$ratio" "$note"
  if [ "$detected" != Detected ] || { [ "$s" != startup ] && [ "$verdict" != PASS ]; }; then
    status=1
  fi
done
exit $status
