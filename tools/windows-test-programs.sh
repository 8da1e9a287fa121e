#!/usr/bin/env bash
# Runs every cross-built test program of one Windows build under Wine and prints one line
# "LABEL: N passed, M failed" (N and M count test cases). The window tests of the platform and ui
# programs need a display, since Wine makes no window without one: those two run under Xvfb where
# it is installed; the others run without one, where a notice ends at once instead of waiting.
#   tools/windows-test-programs.sh BUILD_DIR LABEL WINE
# The caller sets WINEPREFIX (a prefix of its own). Exit status 0 only when nothing failed.
set -uo pipefail
build=$1 label=$2 wine=$3
logs=$(mktemp -d /tmp/velmora-tests.XXXXXX)
trap 'rm -rf "$logs"' EXIT
passed=0 failed=0
for program in "$build"/tests/test_*.exe; do
  name=$(basename "$program")
  display=()
  case "$name" in
    test_platform.exe | test_ui.exe)
      command -v xvfb-run >/dev/null && display=(xvfb-run -a -s "-screen 0 1024x768x24") ;;
  esac
  (cd "$(dirname "$program")" && timeout 1200 "${display[@]}" "$wine" "./$name" --gtest_brief=1 </dev/null) \
    >"$logs/$name.log" 2>&1
  status=$?
  "$(dirname "$wine")/wineserver" -w 2>/dev/null || wineserver -w  # a session without the display would serve the next
  p=$(sed -n 's/^\[  PASSED  \] \([0-9]*\) test.*/\1/p' "$logs/$name.log" | tail -1)
  # One line "[  FAILED  ] Suite.Test (N ms)" for each failed test; a program that fails without
  # one (a crash, a timeout) counts once.
  failedTests=$(grep -E '^\[  FAILED  \] [A-Za-z0-9_/]+\.[A-Za-z0-9_/]+ \(' "$logs/$name.log")
  f=$(printf '%s' "$failedTests" | grep -c .)
  if [ "$status" -ne 0 ] && [ "$f" -eq 0 ]; then
    f=1
    echo "$label: $name ended with status $status:"
    tail -5 "$logs/$name.log"
  fi
  echo "$label: $name: ${p:-0} passed, $f failed"
  [ -z "$failedTests" ] || echo "$failedTests"
  passed=$((passed + ${p:-0})); failed=$((failed + f))
done
echo "$label: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
