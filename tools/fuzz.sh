#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan + UBSan) in their own build dir and
# runs each for a bounded time from its committed seed corpus. Exits non-zero when a
# target finds a crash, a leak or a broken invariant; the input is left in
# $FUZZ_DIR/artifacts/<target>/.
#
#   bash tools/fuzz.sh                 # ~20 s per target
#   FUZZ_SECONDS=300 bash tools/fuzz.sh fuzz_scenario
#
# Each target runs on a scratch copy of its seeds, so the committed corpus only
# changes when someone copies an interesting input into fuzz/corpus/ on purpose.
set -euo pipefail
cd "$(dirname "$0")/.."

SECONDS_EACH=${FUZZ_SECONDS:-20}
FUZZ_DIR=${FUZZ_DIR:-build-fuzz}
JOBS=${FUZZ_BUILD_JOBS:-2}
ALL=(fuzz_parse_number fuzz_fixed_text fuzz_volts_text fuzz_scenario)
TARGETS=("$@")
[ ${#TARGETS[@]} -eq 0 ] && TARGETS=("${ALL[@]}")

corpus_of() {
  case "$1" in
    fuzz_parse_number) echo parse_number ;;
    fuzz_fixed_text) echo fixed_text ;;
    fuzz_volts_text) echo volts_text ;;
    fuzz_scenario) echo scenario ;;
    *) echo "fuzz.sh: unknown target $1" >&2; return 1 ;;
  esac
}

CC=clang CXX=clang++ cmake -S . -B "$FUZZ_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQUILLON_BUILD_FUZZ=ON -DQUILLON_BUILD_TESTS=OFF -DQUILLON_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build "$FUZZ_DIR" -j"$JOBS" --target "${TARGETS[@]}"

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export QT_QPA_PLATFORM=offscreen

failed=()
for t in "${TARGETS[@]}"; do
  seeds="fuzz/corpus/$(corpus_of "$t")"
  work="$FUZZ_DIR/work/$t"
  artifacts="$FUZZ_DIR/artifacts/$t"
  rm -rf "$work" "$artifacts"
  mkdir -p "$work" "$artifacts"
  cp "$seeds"/* "$work"/
  dict=()
  [ -f "fuzz/$t.dict" ] && dict=(-dict="fuzz/$t.dict")
  echo "== $t: ${SECONDS_EACH} s from $(ls "$seeds" | wc -l) seeds"
  if "$FUZZ_DIR/fuzz/$t" "${dict[@]}" -max_total_time="$SECONDS_EACH" -max_len=4096 -timeout=10 \
       -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$artifacts/" "$work" \
       >"$FUZZ_DIR/$t.log" 2>&1; then
    grep -E '^stat::number_of_executed_units|^stat::peak_rss_mb' "$FUZZ_DIR/$t.log" | sed 's/^/   /'
  else
    echo "!! $t found a problem; the input is in $artifacts/, the log in $FUZZ_DIR/$t.log"
    grep -E 'invariant broken|ERROR: |runtime error|SUMMARY' -A2 "$FUZZ_DIR/$t.log" | head -20 | sed 's/^/   /'
    failed+=("$t")
  fi
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz: findings in ${failed[*]}" >&2
  exit 1
fi
echo "fuzz: no findings"
