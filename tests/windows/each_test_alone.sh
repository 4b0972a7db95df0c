#!/usr/bin/env bash
# each_test_alone.sh WINE TEST_EXE: runs every test of a googletest binary in a process of
# its own under wine, as CTest runs each case on Linux: for tests of process-wide state (the
# SNMP library initialises itself once a process).
set -uo pipefail
wine=$1 exe=$2
suite="" ran=0 failed=()
while IFS= read -r line; do
  line=${line%$'\r'}
  case $line in
    "  "*)
      name=${line#  }
      name=${name%% *}
      ran=$((ran + 1))
      if ! output=$("$wine" "$exe" --gtest_filter="$suite$name" 2>&1); then
        echo "$output"
        failed+=("$suite$name")
      fi
      ;;
    *) suite=$line ;;
  esac
done < <("$wine" "$exe" --gtest_list_tests)
echo "$ran tests, each in its own process; ${#failed[@]} failed ${failed[*]}"
[ "$ran" -gt 0 ] && [ "${#failed[@]}" = 0 ]
