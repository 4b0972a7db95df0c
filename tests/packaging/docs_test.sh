#!/usr/bin/env bash
# Checks that what the operator reads agrees with the program: the installed manual page and
# documents carry the build's version (also a version other than the sources' own), and the
# manual page, operating.md and `tamro -h` say the same about a reload and about -f.
#
# Usage: docs_test.sh BUILD_DIR SOURCE_DIR
set -uo pipefail

build=$1
source=$2
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
has() {  # FILE TEXT: the file holds the fixed text
  grep -qF -- "$2" "$1" || fail "${1#"$build"/} does not say: $2"
}
lacks() {  # FILE TEXT
  ! grep -qF -- "$2" "$1" || fail "${1#"$build"/} still says: $2"
}

version_text=$("$build/tamro" -V) || fail "tamro -V failed"
version=${version_text#TAMRO v}
help=$(mktemp) && trap 'rm -f "$help"; rm -rf "${scratch:-}"' EXIT
"$build/tamro" -h >"$help" || fail "tamro -h failed"
[ "$(head -n 1 "$help")" = "$version_text" ] || fail "tamro -h does not start with $version_text"
has "$help" "run in the foreground instead of as a service"
lacks "$help" "no effect under Windows"

man_page=$build/docs/tamro.8
has "$man_page" ".TH TAMRO 8 \"2024\" \"TAMRO $version\""
has "$man_page" ".BR \"TAMRO v$version\" ,"
has "$build/docs/operating.md" "TAMRO v$version"
# A reload cancels the SNMP requests in flight: both say so, neither says it waits for them.
has "$source/docs/operating.md" "A reload cancels the SNMP"
has "$man_page" "Reload: cancel the SNMP requests in flight"
lacks "$man_page" "wait for the SNMP requests"
lacks "$man_page" "no effect under Windows"

# Another version, configured only: the documents are stamped at configure time.
scratch=$(mktemp -d "${TMPDIR:-/tmp}/tamro-docs-test.XXXXXX")
if cmake -S "$source" -B "$scratch" -DTAMRO_VERSION=9.8.7.6 -DTAMRO_BUILD_TESTS=OFF \
  -DTAMRO_BUILD_BENCH=OFF >"$scratch/configure.log" 2>&1; then
  has "$scratch/docs/tamro.8" ".TH TAMRO 8 \"2024\" \"TAMRO 9.8.7.6\""
  has "$scratch/docs/operating.md" "TAMRO v9.8.7.6"
  has "$scratch/docs/operating.md" 'tamro_build_info{version="9.8.7.6"}'
  has "$scratch/generated/app/version.hpp" "9.8.7.6"
else
  cat "$scratch/configure.log"
  fail "cmake with -DTAMRO_VERSION=9.8.7.6 failed"
fi

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "the documents agree with the program"
