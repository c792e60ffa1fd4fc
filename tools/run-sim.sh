#!/usr/bin/env bash
# Builds Quillon and starts quillon-sim, the station on the simulated bench.
# Without a display it runs the demo scenario headless and prints its summary.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target quillon-sim quillon
sim=build/src/app/sim/quillon-sim
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  exec "$sim" "$@"
fi
echo "quillon-sim: no display here; running the demo scenario headless (for the window: xvfb-run -a $sim, or run with a desktop)."
"$sim" --scenario scenarios/demo.json --report build/demo-report.json
