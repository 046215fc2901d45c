#!/usr/bin/env bash
# Runs clang-tidy with the repository's .clang-tidy over every source under
# src/, with the compile database of the release build (configured here
# when missing), every finding an error.
set -euo pipefail
cd "$(dirname "$0")/.."
clang_tidy=${CLANG_TIDY:-clang-tidy}
build=build/release
if [ ! -f "$build/compile_commands.json" ]; then
  cmake --preset release >/dev/null
fi
mapfile -t files < <(git ls-files 'src/*.cpp')
"$clang_tidy" -p "$build" --quiet --warnings-as-errors='*' "${files[@]}"
echo "check-tidy: ${#files[@]} files clean"
