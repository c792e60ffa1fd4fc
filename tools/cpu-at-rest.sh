#!/usr/bin/env bash
# Cost at rest: the share of one core that quillon-sim and quillon use while they only
# wait, with real windows on an X server (Xvfb). Each state is a fresh process, put
# into the state by a small module loaded into it (benchmarks/atrest/AtRestDriver.cpp:
# it clicks and answers as a technician would, then keeps still); after a settling
# pause the process's CPU time (user + system, every thread) is read over a stretch
# of wall time. Target: under 5 % of a core in every state.
#
#   bash tools/cpu-at-rest.sh            # every state, 10 s each
#   ATREST_SECONDS=30 bash tools/cpu-at-rest.sh
#   bash tools/cpu-at-rest.sh monitor    # only the states whose name holds "monitor"
#
# Run it on a quiet machine; the load average is printed beside every figure. The
# figure is the station's process alone; the X server's share over the same stretch
# (the drawing it does for the station) is printed beside it, not counted.
set -euo pipefail
cd "$(dirname "$0")/.."

BUILD=${BENCH_DIR:-build-perf}
MEASURE=${ATREST_SECONDS:-10}
SETTLE=${ATREST_SETTLE:-2}
TARGET=5
filter=${1:-}

if [ -z "${ATREST_INSIDE_X:-}" ]; then
  bash tools/deps.sh
  cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DQUILLON_BUILD_BENCHMARKS=ON -DQUILLON_BUILD_TESTS=OFF >/dev/null
  cmake --build "$BUILD" -j"${BENCH_BUILD_JOBS:-2}" \
    --target quillon quillon-sim quillon_atrest_driver quillon_stubvexlo >/dev/null
  ATREST_INSIDE_X=1 exec xvfb-run -a -s "-screen 0 1920x1200x24 -nolisten tcp" bash "$0" "$@"
fi

driver=$(realpath "$BUILD/benchmarks/libquillon_atrest_driver.so")
sim=$(realpath "$BUILD/src/app/sim/quillon-sim")
station=$(realpath "$BUILD/src/app/station/quillon")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# quillon loads the device library by name: the stub, under that name.
ln -s "$(realpath "$BUILD/benchmarks/stublib/libquillon_stubvexlo.so")" "$work/libvexlo.so"

ticks=$(getconf CLK_TCK)
cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
now() { date +%s.%N; }
load() { cut -d' ' -f1 /proc/loadavg; }
# The X server xvfb-run started beside this script.
xserver=$(ps -o pid=,comm= --ppid "$PPID" | awk '$2 == "Xvfb" {print $1}' | head -1)
share_of() { awk -v c="$1" -v t="$ticks" -v a="$2" -v b="$3" 'BEGIN {printf "%.1f", 100 * c / t / (b - a)}'; }

echo "== machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//'), $(awk '/MemTotal/ {printf "%.1f GiB", $2/1048576}' /proc/meminfo)"
echo "== each state: ${SETTLE} s to settle, then process CPU time over ${MEASURE} s of wall time"
echo
printf '%-54s %7s %7s %4s %9s  %s\n' "state" "% core" "target" "met" "X server" "load before/after (what the windows showed)"
status=0

# measure NAME PROGRAM STEPS [ENV=VALUE...]
measure() {
  local name=$1 program=$2 steps=$3
  shift 3
  if [ -n "$filter" ] && [[ "$name" != *"$filter"* ]]; then
    return
  fi
  local ready="$work/ready" pid
  rm -f "$ready"
  # Settings and records of these runs stay in the scratch folder, out of the user's.
  env XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data" "$@" QUILLON_ATREST_STEPS="$steps" QUILLON_ATREST_READY="$ready" LD_PRELOAD="$driver" \
    "$program" >"$work/out" 2>&1 &
  pid=$!
  for _ in $(seq 1 1500); do
    [ -s "$ready" ] || ! kill -0 "$pid" 2>/dev/null && break
    sleep 0.1
  done
  if ! grep -q '^ready' "$ready" 2>/dev/null; then
    printf '%-54s %7s  %s\n' "$name" "-" "did not reach the state: $(cat "$ready" 2>/dev/null || echo 'no answer')"
    tail -3 "$work/out" >&2 || true
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    status=1
    return
  fi
  sleep "$SETTLE"
  local load0 c0 x0 w0 c1 x1 w1 share xshare=- met
  load0=$(load)
  c0=$(cpu_ticks "$pid")
  [ -n "$xserver" ] && x0=$(cpu_ticks "$xserver")
  w0=$(now)
  sleep "$MEASURE"
  c1=$(cpu_ticks "$pid")
  [ -n "$xserver" ] && x1=$(cpu_ticks "$xserver")
  w1=$(now)
  share=$(share_of "$((c1 - c0))" "$w0" "$w1")
  [ -n "$xserver" ] && xshare="$(share_of "$((x1 - x0))" "$w0" "$w1")%"
  met=$(awk -v s="$share" -v t="$TARGET" 'BEGIN {print (s < t) ? "yes" : "no"}')
  [ "$met" = yes ] || status=1
  printf '%-54s %6s%% %6s%% %4s %9s  %s/%s (%s)\n' "$name" "$share" "< $TARGET" "$met" "$xshare" "$load0" "$(load)" \
    "$(cut -d';' -f2- "$ready" | sed 's/^ *//')"
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
}

board160="board:0x805E,click:DetectButton,pause:1500,detected"
measure "quillon-sim idle, bench open" "$sim" "detected"
measure "quillon-sim idle, bench closed" "$sim" "detected,close:BenchWindow"
measure "quillon-sim monitor 16 channels, bench open" "$sim" "detected,click:CyclicGoButton,listed"
measure "quillon-sim monitor 16 channels, bench closed" "$sim" "detected,close:BenchWindow,click:CyclicGoButton,listed"
measure "quillon-sim monitor 160 channels, bench open" "$sim" "detected,$board160,click:CyclicGoButton,listed"
measure "quillon-sim monitor 160 channels, bench closed" "$sim" \
  "detected,$board160,close:BenchWindow,click:CyclicGoButton,listed"
measure "quillon-sim after a Test All, idle again, bench open" "$sim" "detected,click:TestAllButton,verdict"
measure "quillon (stub library) idle" "$station" "detected" LD_LIBRARY_PATH="$work"
measure "quillon (stub library) monitor Go pressed" "$station" "detected,click:CyclicGoButton,pause:1000" \
  LD_LIBRARY_PATH="$work"
exit $status
