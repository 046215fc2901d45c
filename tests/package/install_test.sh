#!/usr/bin/env bash
# Install and package check, run by CI after the release build:
#
#   tests/package/install_test.sh BUILD_DIR
#
# 1. `cmake --install` into a scratch DESTDIR puts the program, the man page
#    and the bash completion where a Unix system looks for them.
# 2. The man page formats without a single warning.
# 3. `cpack -G DEB` builds a package with the right name, section,
#    maintainer, description and library dependencies, holding those files.
# 4. The package is installed (with `dpkg -i` when running as root with
#    SHEETDUMP_DPKG_INSTALL=1, as CI does; otherwise unpacked with `dpkg -x`
#    into a scratch root) and the installed program converts the sample
#    workbook exactly as the corpus expects, in every output mode.
set -euo pipefail

fail() { echo "install_test: FAIL: $*" >&2; exit 1; }
note() { echo "install_test: $*"; }

[ $# -eq 1 ] || { echo "usage: $0 BUILD_DIR" >&2; exit 2; }
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
build_dir=$(cd "$1" && pwd)
[ -x "$build_dir/sheetdump" ] || fail "no built program in $build_dir (build it first)"

scratch=$(mktemp -d)
installed_by_dpkg=0
cleanup() {
  if [ "$installed_by_dpkg" = 1 ]; then dpkg -r sheetdump >/dev/null || true; fi
  rm -rf "$scratch"
}
trap cleanup EXIT

sample="$source_dir/examples/basic.xls"
expected_dir="$source_dir/tests/corpus/libreoffice"
[ -f "$expected_dir/basic.csv.out" ] || expected_dir="$source_dir/../shared/corpus/libreoffice"
[ -f "$expected_dir/basic.csv.out" ] || fail "no expected output for basic.xls"
cmp -s "$sample" "$expected_dir/basic.xls" || fail "examples/basic.xls differs from the corpus copy"

# Runs the program at $1 on the sample in every output mode and compares
# with the corpus. Standard error must stay empty and the status is 1.
check_program() {
  local program=$1 mode args out status
  for mode in csv tab sql sqlpg; do
    case $mode in
      csv) args=() ;;
      tab) args=(--tab) ;;
      sql) args=(--sql) ;;
      sqlpg) args=(--sql --postgres --isodate) ;;
    esac
    out="$scratch/out.$mode"
    status=0
    "$program" "${args[@]}" "$sample" >"$out" 2>"$scratch/err" || status=$?
    [ "$status" = 1 ] || fail "$program ${args[*]}: exit status $status, expected 1"
    [ ! -s "$scratch/err" ] || fail "$program ${args[*]}: wrote to standard error: $(head -c 300 "$scratch/err")"
    cmp -s "$out" "$expected_dir/basic.$mode.out" ||
      fail "$program ${args[*]}: output differs from $expected_dir/basic.$mode.out"
  done
}

# Checks the three installed files under the root $1 (prefix /usr).
check_tree() {
  local root=$1
  [ -x "$root/usr/bin/sheetdump" ] || fail "$root/usr/bin/sheetdump missing or not executable"
  cmp -s "$root/usr/share/man/man1/sheetdump.1" "$source_dir/doc/sheetdump.1" ||
    fail "man page missing or different under $root"
  cmp -s "$root/usr/share/bash-completion/completions/sheetdump" \
    "$source_dir/doc/sheetdump.bash-completion" || fail "bash completion missing or different under $root"
}

# 1. cmake --install
note "cmake --install into a scratch DESTDIR"
DESTDIR="$scratch/dest" cmake --install "$build_dir" --prefix /usr >/dev/null
check_tree "$scratch/dest"
check_program "$scratch/dest/usr/bin/sheetdump"

# 2. The man page, as installed, without warnings.
note "man --warnings"
command -v man >/dev/null || fail "man is not installed (Debian package man-db)"
man --warnings -l "$scratch/dest/usr/share/man/man1/sheetdump.1" >/dev/null 2>"$scratch/man.err" ||
  fail "man could not format the man page: $(cat "$scratch/man.err")"
[ ! -s "$scratch/man.err" ] || fail "man page warnings: $(cat "$scratch/man.err")"

# 3. The Debian package.
note "cpack -G DEB"
command -v dpkg-shlibdeps >/dev/null || fail "dpkg-shlibdeps is missing (Debian package dpkg-dev)"
(cd "$build_dir" && cpack -G DEB -B "$scratch/pkg" >"$scratch/cpack.log" 2>&1) ||
  fail "cpack failed: $(tail -20 "$scratch/cpack.log")"
debs=("$scratch"/pkg/sheetdump_*.deb)
[ "${#debs[@]}" = 1 ] && [ -f "${debs[0]}" ] || fail "cpack made no single sheetdump_*.deb"
deb=${debs[0]}
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = sheetdump ] || fail "Package is '$(field Package)'"
[ "$(field Section)" = utils ] || fail "Section is '$(field Section)'"
[[ "$(field Maintainer)" == *"<"*"@"*">" ]] || fail "Maintainer is '$(field Maintainer)'"
[ -n "$(field Description)" ] || fail "no Description"
[ "$(field Version)" = "$(sed -n 's/^project(sheetdump VERSION \([0-9.]*\).*/\1/p' "$source_dir/CMakeLists.txt")" ] ||
  fail "Version '$(field Version)' is not the project's version"
[ "$(field Architecture)" = "$(dpkg --print-architecture)" ] || fail "Architecture is '$(field Architecture)'"
depends=$(field Depends)
# The C library always; the C++ runtime where the program links it shared
# (SHEETDUMP_STATIC_RUNTIME=OFF).
libs=(libc6)
if readelf -d "$build_dir/sheetdump" | grep -q 'NEEDED.*libstdc++'; then libs+=(libstdc++6); fi
for lib in "${libs[@]}"; do
  [[ ", $depends" == *", $lib "* || ", $depends," == *", $lib,"* ]] ||
    fail "Depends '$depends' lacks $lib (dpkg-shlibdeps not run?)"
done
dpkg-deb -c "$deb" | awk '{print $NF}' | sed 's|^\./|/|' | grep -v '/$' | sort >"$scratch/contents"
printf '%s\n' /usr/bin/sheetdump /usr/share/bash-completion/completions/sheetdump \
  /usr/share/man/man1/sheetdump.1 >"$scratch/expected-contents"
diff -u "$scratch/expected-contents" "$scratch/contents" >&2 || fail "unexpected package contents"

# 4. Install the package and run the installed program.
if [ "${SHEETDUMP_DPKG_INSTALL:-0}" = 1 ] && [ "$(id -u)" = 0 ]; then
  note "dpkg -i $(basename "$deb")"
  dpkg -i "$deb" >"$scratch/dpkg.log" 2>&1 || fail "dpkg -i failed: $(cat "$scratch/dpkg.log")"
  installed_by_dpkg=1
  [ "$(dpkg-query -W -f='${Status}' sheetdump)" = "install ok installed" ] || fail "dpkg does not list sheetdump as installed"
  check_tree ""
  check_program /usr/bin/sheetdump
  bash -c '. /usr/share/bash-completion/completions/sheetdump && complete -p sheetdump' >/dev/null ||
    fail "the installed bash completion does not register for sheetdump"
else
  note "dpkg -x $(basename "$deb") into a scratch root"
  dpkg -x "$deb" "$scratch/root"
  check_tree "$scratch/root"
  check_program "$scratch/root/usr/bin/sheetdump"
fi
note "ok"
