#!/usr/bin/env bash
# Builds Quillon and starts quillon-sim, the station on the simulated bench.
# Without a display it runs the demo scenario headless and prints its summary.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
# The build's progress goes to a log, shown only if the build fails.
log=build/run-sim-build.log
echo "quillon-sim: building (a few minutes the first time; progress in $log)."
if ! cmake --build build -j"$(nproc)" --target quillon-sim quillon >"$log" 2>&1; then
  cat "$log" >&2
  exit 1
fi
sim=build/src/app/sim/quillon-sim
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  exec "$sim" "$@"
fi
echo "quillon-sim: no display here; running the demo scenario headless (for the window: xvfb-run -a $sim, or run with a desktop)."
"$sim" --scenario scenarios/demo.json --report build/demo-report.json
