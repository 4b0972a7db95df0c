#!/bin/sh
# Builds one libFuzzer target from sources and runs it for a bounded number of inputs,
# starting from the seed files given (copied into a fresh corpus).
# Usage: run_fuzz.sh CLANGXX SOURCE_DIR WORK_DIR NAME RUNS MAX_LEN "SOURCES" "LIBS" [SEED...]
# SOURCES are absolute paths or paths below SOURCE_DIR; LIBS are further compiler and linker
# arguments.
set -e
clangxx=$1 source_dir=$2 work_dir=$3 name=$4 runs=$5 max_len=$6 sources=$7 libs=$8
shift 8
rm -rf "$work_dir/$name-corpus"
mkdir -p "$work_dir/$name-corpus"
files=""
for source in $sources; do
  case $source in
  /*) files="$files $source" ;;
  *) files="$files $source_dir/$source" ;;
  esac
done
# shellcheck disable=SC2086
"$clangxx" -std=c++17 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all \
  -I"$source_dir" $files -o "$work_dir/$name" $libs
for seed in "$@"; do cp "$seed" "$work_dir/$name-corpus/"; done
cd "$work_dir"
"./$name" -runs="$runs" -seed=1 -max_len="$max_len" "$name-corpus"
