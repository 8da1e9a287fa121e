#!/usr/bin/env bash
# Runs every cross-built test program of one Windows build under Wine and prints one line
# "LABEL: N passed, M failed" (N and M count test cases). The window tests of the platform and ui
# programs need a display, since Wine makes no window without one: those two run under Xvfb where
# it is installed; the others run without one, where a notice ends at once instead of waiting.
#   tests/windows/test_programs.sh BUILD_DIR LABEL WINE
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
  "$(dirname "$wine")/wineserver" -w 2>/dev/null || wineserver -w  # a session without the display would serve the next
  p=$(sed -n 's/^\[  PASSED  \] \([0-9]*\) test.*/\1/p' "$logs/$name.log" | tail -1)
  f=$(sed -n 's/^\[  FAILED  \] \([0-9]*\) test.*/\1/p' "$logs/$name.log" | tail -1)
  [ -n "$p$f" ] || { f=1; echo "$label: $name gave no result:"; tail -5 "$logs/$name.log"; }
  echo "$label: $name: ${p:-0} passed"
  passed=$((passed + ${p:-0})); failed=$((failed + ${f:-0}))
  [ -z "$f" ] || [ "$f" = 0 ] || grep -E '^\[  FAILED  \]' "$logs/$name.log"
done
echo "$label: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
