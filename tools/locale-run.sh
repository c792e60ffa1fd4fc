#!/usr/bin/env bash
# Runs the whole built test suite once under a German locale (comma decimal separator),
# the way a station set up for German would start: the default QLocale follows LC_ALL/LANG.
# Usage: tools/locale-run.sh [build-dir]   (default: build; build it first, e.g. with tools/test.sh)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
if [ ! -f "$build/CTestTestfile.cmake" ]; then
  echo "locale-run: no test suite in $build; build it first" >&2
  exit 2
fi
if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
  echo "locale-run: the de_DE.UTF-8 locale is not generated (tools/deps.sh sets it up)" >&2
  exit 2
fi
export LC_ALL=de_DE.UTF-8 LANG=de_DE.UTF-8
unset LANGUAGE LC_NUMERIC
ctest --test-dir "$build" --output-on-failure -j"$(nproc)"
