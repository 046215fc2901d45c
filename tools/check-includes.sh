#!/usr/bin/env bash
# Checks that every project include in src/ points down the data's path,
# as doc/ARCHITECTURE.md says: base <- cfb <- biff <- format <- output <- cli.
set -euo pipefail
cd "$(dirname "$0")/.."
rank() {
  case $1 in base) echo 0 ;; cfb) echo 1 ;; biff) echo 2 ;; format) echo 3 ;; output) echo 4 ;; cli) echo 5 ;; *) echo 9 ;; esac
}
bad=0
while IFS= read -r file; do
  dir=$(echo "$file" | cut -d/ -f2)
  while IFS= read -r inc; do
    to=${inc%%/*}
    if [ "$(rank "$to")" -gt "$(rank "$dir")" ]; then
      echo "$file includes $inc: $to is above $dir" >&2
      bad=1
    fi
    # The formatting layer sees only the model of the biff layer; the
    # writers also see the interface through which a sheet is watched
    # while it loads.
    visible=biff/workbook.hpp
    [ "$dir" = output ] && [ "$inc" = biff/sheet_watch.hpp ] && visible=$inc
    if [ "$dir" != biff ] && [ "$to" = biff ] && [ "$(rank "$dir")" -ge 3 ] && [ "$inc" != "$visible" ] && [ "$dir" != cli ]; then
      echo "$file includes $inc: only the model (biff/workbook.hpp) is visible from $dir" >&2
      bad=1
    fi
  done < <(sed -n 's/^#include "\([^"]*\)".*/\1/p' "$file")
done < <(find src -name '*.cpp' -o -name '*.hpp')
# The model includes nothing of the project.
if grep -q '^#include "' src/biff/workbook.hpp; then
  echo "src/biff/workbook.hpp includes project headers" >&2
  bad=1
fi
# The watch interface includes the model alone.
if grep '^#include "' src/biff/sheet_watch.hpp | grep -qv '"biff/workbook.hpp"'; then
  echo "src/biff/sheet_watch.hpp includes more than the model" >&2
  bad=1
fi
[ "$bad" -eq 0 ] && echo "includes: every arrow points down"
exit "$bad"
