#!/bin/sh
# Builds the response parser fuzz target and runs it for a bounded number of inputs.
# Usage: run_fuzz.sh CLANGXX SOURCE_DIR WORK_DIR
set -e
clangxx=$1
source_dir=$2
work_dir=$3
mkdir -p "$work_dir/corpus"
"$clangxx" -std=c++17 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all \
  -I"$source_dir" "$source_dir/tests/reporting/response_parser_fuzz.cpp" \
  "$source_dir/reporting/response_parser.cpp" -o "$work_dir/response_parser_fuzz"
printf 'HTTP/1.1 200 OK\r\n' > "$work_dir/corpus/status"
printf 'Content-Length: 12\r\ncontent-type: text/xml\r\n  cont\r\nLocation: http://h/\r\n\r\n' \
  > "$work_dir/corpus/headers"
cd "$work_dir"
./response_parser_fuzz -runs=20000 -seed=1 -max_len=512 corpus
