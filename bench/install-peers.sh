#!/usr/bin/env bash
# Installs what bench/run.sh uses (Debian 12 packages): the timing tools,
# the chart plotter, Google Benchmark for the micro-benchmarks, the peers
# (python3-xlrd, catdoc's xls2csv, gnumeric's ssconvert) and LibreOffice for
# the real-writer copy of the mixed workbook.
#   bench/install-peers.sh [--no-libreoffice]
set -euo pipefail
packages=(cmake g++ make libgtest-dev hyperfine time gnuplot-nox libbenchmark-dev python3 python3-xlrd catdoc gnumeric)
[ "${1:-}" = "--no-libreoffice" ] || packages+=(libreoffice-calc-nogui)
sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${packages[@]}"
