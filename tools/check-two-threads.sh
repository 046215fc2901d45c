#!/usr/bin/env bash
# Large sheets are written on two threads (while they load, and in turns
# once loaded), small ones and every sheet of a one-processor run on one.
# This check converts generated workbooks large enough for the two-thread
# paths, whole and with one cell record damaged (tools/damage_records.py)
# near the start, in the middle, near the end and at the last RK record of
# the sheet (after the watch's last report), in every mode, once as usual
# and once pinned to one processor, and fails on any difference in output,
# messages or exit status.
#
# Usage: tools/check-two-threads.sh SHEETDUMP MAKE_WORKBOOKS
set -euo pipefail
cd "$(dirname "$0")/.."
sheetdump=$1
make_workbooks=$2

if [ "$(nproc)" -lt 2 ]; then
  echo "two threads: one processor here; check passed over" >&2
  exit 0
fi
# The first processor this run may use (not always processor 0).
cpu=$(taskset -pc $$ | sed 's/.*: *//; s/[-,].*//')
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# 0.3 of the bench rows: numeric has 390,000 cells in its sheet, mixed
# 216,000, both above the two-thread threshold.
"$make_workbooks" "$work" 0.3 >/dev/null
files=()
for name in numeric mixed; do
  mkdir "$work/$name"
  files+=("$work/$name.xls")
  while IFS= read -r f; do files+=("$f"); done \
    < <(python3 tools/damage_records.py "$work/$name.xls" "$work/$name" 0.01 0.5 0.999 1)
done

modes=("--csv" "--tab" "--sql" "--sql --postgres --isodate" "--sql --create" "--csv --all"
       "--tab --exact" "--csv --formatted")
runs=0
failed=0
for f in "${files[@]}"; do
  for mode in "${modes[@]}"; do
    # shellcheck disable=SC2086  # $mode is a list of options
    status_two=0; "$sheetdump" $mode "$f" >"$work/two.out" 2>"$work/two.err" || status_two=$?
    # shellcheck disable=SC2086
    status_one=0; taskset -c "$cpu" "$sheetdump" $mode "$f" >"$work/one.out" 2>"$work/one.err" \
      || status_one=$?
    runs=$((runs + 1))
    if [ "$status_one" -ne "$status_two" ] || ! cmp -s "$work/one.out" "$work/two.out" ||
       ! cmp -s "$work/one.err" "$work/two.err"; then
      echo "two threads: sheetdump $mode $f differs from the one-processor run" >&2
      failed=$((failed + 1))
    fi
  done
done
if [ "$failed" -ne 0 ]; then
  echo "two threads: $failed of $runs conversions differ" >&2
  exit 1
fi
echo "two threads: $runs conversions of ${#files[@]} workbooks the same on one processor"
