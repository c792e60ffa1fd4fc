#!/usr/bin/env bash
# The house style, checked. Usage:
#   tools/lint.sh format            clang-format over every tracked C/C++ file (no changes, fails on a difference)
#   tools/lint.sh tidy [build-dir]  clang-tidy over the program's sources (src/, benchmarks/, fuzz/ as far as
#                                   the build compiles them); the build must have run, it generates ui_*.h and moc files
# Set FILES="a.cpp b.cpp" to tidy only those files (any file, autotests too); JOBS sets the parallel runs (2).
# The autotests are left out of the full run: their gtest bodies cost most of the time and
# their table-driven cases are not what the complexity cap is for.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

case "${1:-}" in
format)
    git ls-files -z '*.cpp' '*.h' '*.c' | xargs -0 clang-format --dry-run -Werror
    echo "lint: format clean"
    ;;
tidy)
    build=${2:-build}
    [ -f "$build/compile_commands.json" ] || { echo "lint: no $build/compile_commands.json (configure and build first)" >&2; exit 2; }
    if [ -n "${FILES:-}" ]; then
        read -r -a files <<<"$FILES"
    else
        # Sources in the tree only: generated moc/ui sources live in the build folder.
        mapfile -t files < <(sed -n 's/^ *"file": "\(.*\)",\{0,1\}$/\1/p' "$build/compile_commands.json" \
            | grep -E "^$root/(src|benchmarks|fuzz)/.*\.(cpp|c)\$" | sort -u)
    fi
    # One clang-tidy per file, two at a time; each file's findings are printed together.
    printf '%s\0' "${files[@]}" | xargs -0 -P "${JOBS:-2}" -I{} sh -c \
        'out=$(clang-tidy -p "$0" --quiet --warnings-as-errors="*" "$1" 2>&1) || { printf "%s\n" "$out" | grep -v -E "^[0-9]+ warnings? (and [0-9]+ errors? )?generated"; exit 1; }' \
        "$build" {} || { echo "lint: clang-tidy found problems" >&2; exit 1; }
    echo "lint: clang-tidy clean (${#files[@]} files)"
    ;;
*)
    echo "usage: tools/lint.sh format | tidy [build-dir]" >&2
    exit 2
    ;;
esac
