#!/usr/bin/env bash
# Fails when any tracked C++ source (but the third-party corpus folder)
# differs from what clang-format makes of it with the repository's
# .clang-format. Prints the places; `clang-format -i FILE` fixes one.
set -euo pipefail
cd "$(dirname "$0")/.."
clang_format=${CLANG_FORMAT:-clang-format}
mapfile -t files < <(git ls-files '*.cpp' '*.hpp' | grep -v '^tests/corpus/')
if [ "${#files[@]}" -eq 0 ]; then
  echo "check-format: no sources found" >&2
  exit 1
fi
"$clang_format" --dry-run --Werror "${files[@]}"
echo "check-format: ${#files[@]} files formatted"
