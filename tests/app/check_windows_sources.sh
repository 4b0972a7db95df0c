#!/usr/bin/env bash
# Syntax check of the Windows-only sources with the mingw-w64 cross compiler.
set -euo pipefail
source_dir=$1
# The POSIX-thread flavour, as the Windows build uses: the other one lacks std::mutex.
compiler=$(command -v x86_64-w64-mingw32-g++-posix || true)
if [ -z "$compiler" ]; then
  echo "x86_64-w64-mingw32-g++-posix not installed"
  exit 77
fi
# Boost headers are portable, but /usr/include itself would shadow mingw's C library.
include_dir=$(mktemp -d)
trap 'rm -rf "$include_dir"' EXIT
ln -s /usr/include/boost "$include_dir/boost"
for source in "$source_dir"/app/windows/*.cpp "$source_dir"/app/metrics/windows/*.cpp \
  "$source_dir"/config/windows/*.cpp "$source_dir"/log/windows/*.cpp \
  "$source_dir"/snmp/netsnmp/windows/*.cpp; do
  "$compiler" -std=c++17 -fsyntax-only -Wall -Wextra -Werror -I"$source_dir" \
    -isystem "$include_dir" "$source"
  echo "ok: ${source#$source_dir/}"
done
