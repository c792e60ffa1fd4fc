#!/usr/bin/env bash
# Builds Quillon and runs the whole test suite. Usage: tools/test.sh [build-dir]
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/deps.sh
build=${1:-build}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLON_WERROR=ON >/dev/null
cmake --build "$build" -j"$(nproc)"
ctest --test-dir "$build" --output-on-failure -j"$(nproc)"
# Once more under a comma-decimal locale.
bash tools/locale-run.sh "$build"
