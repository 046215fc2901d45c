#!/usr/bin/env bash
# Whole-process benchmarks: sheetdump in every output mode against the
# installed peers (python3-xlrd, catdoc's xls2csv, gnumeric's ssconvert) and
# the I/O floor, on the generated workbooks and on the same mixed content as
# saved by LibreOffice. Writes bench/RESULTS.md and bench/results.svg.
#
#   bench/run.sh            full run (about 7 minutes on 2 cores)
#   bench/run.sh --quick    fewer runs, for trying the script out
#
# Environment: BENCH_RUNS (sheetdump and floor runs, default 10),
# BENCH_PEER_RUNS (peer runs, default 3), BENCH_NOTE (a paragraph placed at
# the top of RESULTS.md), BENCH_BEFORE (an older sheetdump binary, timed in
# the same hyperfine runs as the current one and reported as "before"),
# BENCH_CALLGRIND (1 or 0: count instructions with valgrind's callgrind;
# default 1 when valgrind is installed, 0 with --quick).
# The tools come from Debian packages: bench/install-peers.sh installs them.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

runs=${BENCH_RUNS:-10}
peer_runs=${BENCH_PEER_RUNS:-3}
callgrind_default=1
if [ "${1:-}" = "--quick" ]; then
  runs=3
  peer_runs=1
  callgrind_default=0
fi
callgrind=${BENCH_CALLGRIND:-$callgrind_default}
command -v valgrind >/dev/null || callgrind=0

before=${BENCH_BEFORE:-}
if [ -n "$before" ]; then
  before=$(realpath "$before")
  if [ ! -x "$before" ]; then
    echo "run.sh: BENCH_BEFORE=$before is not an executable" >&2
    exit 1
  fi
fi

for tool in cmake hyperfine /usr/bin/time /usr/bin/python3; do
  if ! command -v "$tool" >/dev/null; then
    echo "run.sh: $tool is missing; bench/install-peers.sh installs what the benchmarks need" >&2
    exit 1
  fi
done

echo "== building"
cmake --workflow --preset release >/dev/null
cmake --workflow --preset bench >/dev/null
sheetdump=$root/build/release/sheetdump

data=bench/data
work=$data/results
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
mkdir -p "$data"
rm -rf "$work"
mkdir -p "$work"

echo "== generating workbooks"
# Files are replaced only when their bytes change, so that the LibreOffice
# copy below is made once.
build/bench/bench/make_workbooks "$tmp" >/dev/null
workbooks=()
for name in numeric mixed multi; do
  cmp -s "$tmp/$name.xls" "$data/$name.xls" || mv "$tmp/$name.xls" "$data/$name.xls"
  workbooks+=("$name")
done

lo_file=$data/mixed_libreoffice.xls
if [ ! -f "$lo_file" ] || [ "$data/mixed.xls" -nt "$lo_file" ]; then
  if command -v soffice >/dev/null; then
    echo "== converting mixed.xls with LibreOffice (once)"
    soffice "-env:UserInstallation=file://$tmp/lo-profile" --headless \
      --convert-to 'xls:MS Excel 97' --outdir "$tmp/lo" "$data/mixed.xls" >/dev/null 2>&1 || true
    if [ -f "$tmp/lo/mixed.xls" ]; then
      mv "$tmp/lo/mixed.xls" "$lo_file"
    else
      echo "LibreOffice could not convert mixed.xls; skipping the real-writer file" >&2
      rm -f "$lo_file"
    fi
  else
    echo "soffice is not installed: skipping the real-writer file (mixed_libreoffice.xls)" >&2
    rm -f "$lo_file"
  fi
fi
[ -f "$lo_file" ] && workbooks+=("mixed_libreoffice")

# For the memory target: numeric's sheet 16 times over (about 290 MiB).
big_name=numeric_x16
build/bench/bench/make_workbooks --repeat numeric 16 "$tmp/$big_name.xls" >/dev/null
cmp -s "$tmp/$big_name.xls" "$data/$big_name.xls" || mv "$tmp/$big_name.xls" "$data/$big_name.xls"
rm -f "$tmp/$big_name.xls"

# The peers that are installed, as name and command prefix.
peer_names=()
peer_cmds=()
if /usr/bin/python3 -c 'import xlrd' 2>/dev/null; then
  peer_names+=("xlrd")
  peer_cmds+=("/usr/bin/python3 $root/bench/peers/xlrd_csv.py")
fi
if command -v xls2csv >/dev/null; then
  peer_names+=("xls2csv")
  peer_cmds+=("xls2csv")
fi
if command -v ssconvert >/dev/null; then
  peer_names+=("ssconvert")
  peer_cmds+=("ssconvert -S")
fi
echo "peers: ${peer_names[*]:-none}"

modes=(csv tab sql sql_postgres_isodate)
mode_args() {
  case "$1" in
    csv) echo "--csv" ;;
    tab) echo "--tab" ;;
    sql) echo "--sql" ;;
    sql_postgres_isodate) echo "--sql --postgres --isodate" ;;
  esac
}

# Peak resident set size in KB of one run of a command, output discarded.
peak_rss() {
  /usr/bin/time -f '%M' -o "$tmp/rss" "$@" >/dev/null 2>&1 || true
  tail -n 1 "$tmp/rss"
}

printf 'workbook\tbytes\n' >"$work/files.tsv"
printf 'workbook\tmode\toutput_bytes\n' >"$work/outputs.tsv"
printf 'workbook\tcommand\tpeak_rss_kb\n' >"$work/rss.tsv"
printf 'workbook\tcommand\tinstructions\n' >"$work/instructions.tsv"
[ -n "$before" ] && printf '%s\n' "$before" >"$work/before.txt"

# Instructions executed by one run of a command under callgrind ("I refs").
instructions() {
  valgrind --tool=callgrind --callgrind-out-file=/dev/null "$@" >/dev/null 2>"$tmp/cg" || true
  sed -n 's/^==[0-9]*== I *refs: *//p' "$tmp/cg" | tr -d ,
}

# Every sheetdump run: this build as "sheetdump", the older one as "before".
binaries=(sheetdump)
[ -n "$before" ] && binaries+=(before)
binary_path() { if [ "$1" = before ]; then echo "$before"; else echo "$sheetdump"; fi; }
# The opt-in renderings whose instruction counts are compared with the default of their mode.
renderings=("--csv --all" "--csv --exact" "--csv --formatted" "--tab --formatted" "--sql --formatted")

for name in "${workbooks[@]}"; do
  file=$root/$data/$name.xls
  printf '%s\t%s\n' "$name" "$(stat -c %s "$file")" >>"$work/files.tsv"
  echo "== $name.xls ($(stat -c %s "$file") bytes)"

  # sheetdump in every mode, and the floor: reading the input, writing the
  # output's size.
  args=()
  for mode in "${modes[@]}"; do
    # shellcheck disable=SC2046
    out_bytes=$("$sheetdump" $(mode_args "$mode") "$file" | wc -c || true)
    printf '%s\t%s\t%s\n' "$name" "$mode" "$out_bytes" >>"$work/outputs.tsv"
    for bin in "${binaries[@]}"; do
      path=$(binary_path "$bin")
      args+=(-n "$bin $mode" "$path $(mode_args "$mode") $file")
      # shellcheck disable=SC2046
      printf '%s\t%s\t%s\n' "$name" "$bin $mode" \
        "$(peak_rss "$path" $(mode_args "$mode") "$file")" >>"$work/rss.tsv"
      if [ "$callgrind" = 1 ]; then
        # shellcheck disable=SC2046
        printf '%s\t%s\t%s\n' "$name" "$bin $mode" \
          "$(instructions "$path" $(mode_args "$mode") "$file")" >>"$work/instructions.tsv"
      fi
    done
    args+=(-n "write $mode" "head -c $out_bytes /dev/zero")
  done
  if [ "$callgrind" = 1 ]; then
    for r in "${renderings[@]}"; do
      # shellcheck disable=SC2086
      printf '%s\t%s\t%s\n' "$name" "sheetdump $r" \
        "$(instructions "$sheetdump" $r "$file")" >>"$work/instructions.tsv"
    done
  fi
  args+=(-n "cat" "cat $file")
  # sheetdump's exit status is 1 by design: --ignore-failure.
  hyperfine -N --ignore-failure --style basic --warmup 1 --runs "$runs" \
    --export-json "$work/$name.sheetdump.json" "${args[@]}" >"$work/$name.sheetdump.log" 2>&1

  # The peers write CSV; ssconvert into a file of its own.
  if [ "${#peer_names[@]}" -gt 0 ]; then
    args=()
    for i in "${!peer_names[@]}"; do
      cmd="${peer_cmds[$i]} $file"
      [ "${peer_names[$i]}" = "ssconvert" ] && cmd="$cmd $tmp/ssconvert-out.csv"
      args+=(-n "${peer_names[$i]}" "$cmd")
      # shellcheck disable=SC2086
      printf '%s\t%s\t%s\n' "$name" "${peer_names[$i]}" "$(peak_rss $cmd)" >>"$work/rss.tsv"
    done
    hyperfine -N --ignore-failure --style basic --warmup 1 --runs "$peer_runs" \
      --export-json "$work/$name.peers.json" "${args[@]}" >"$work/$name.peers.log" 2>&1
  fi
done

echo "== peak memory of $big_name.xls ($(stat -c %s "$data/$big_name.xls") bytes)"
printf 'workbook\tbytes\n%s\t%s\n' "$big_name" "$(stat -c %s "$data/$big_name.xls")" >"$work/big.tsv"
for bin in "${binaries[@]}"; do
  printf '%s\t%s\t%s\n' "$big_name" "$bin csv" \
    "$(peak_rss "$(binary_path "$bin")" --csv "$root/$data/$big_name.xls")" >>"$work/rss.tsv"
done

echo "== writing bench/RESULTS.md and bench/results.svg"
/usr/bin/python3 bench/report.py "$work" bench/RESULTS.md "$work/chart.dat" "$work/headline.md"
if command -v gnuplot >/dev/null; then
  columns=$(head -n 1 "$work/chart.dat" | awk -F'\t' '{ print NF }')
  gnuplot -e "datafile='$work/chart.dat'; outfile='bench/results.svg'; columns=$columns" bench/results.gp
else
  echo "gnuplot is not installed: bench/results.svg is left as it was" >&2
fi
# The README's copy of the headline table sits between two markers.
if grep -q '^<!-- bench-results:begin -->$' README.md && grep -q '^<!-- bench-results:end -->$' README.md; then
  awk -v table="$work/headline.md" '
    /^<!-- bench-results:end -->$/ { while ((getline line < table) > 0) print line; skip = 0 }
    !skip { print }
    /^<!-- bench-results:begin -->$/ { skip = 1 }
  ' README.md >"$tmp/README.md"
  cat "$tmp/README.md" >README.md
fi
echo "done: bench/RESULTS.md, bench/results.svg, README.md's results table"
