# On a desktop a failure shows where the user looks: a run that shows its windows and ends with
# exit 1, 2 or 4 shows one message window ("Velmora", the report's first lines, OK) before it ends;
# a run that succeeds, or one with -h, shows none. Needs Xvfb and xdotool (skipped without them).
source "$(dirname "$0")/common.bash"

if ! command -v xvfb-run >/dev/null || ! command -v xdotool >/dev/null; then
  echo "skip: a virtual display (xvfb-run) and xdotool are needed"
  exit 0
fi

# on_desktop ANSWER args...: runs the program on a virtual display in the current folder; when a
# window named Velmora appears, notes it in $work/window and presses ANSWER in it. Sets rc.
on_desktop() {
  local answer="$1"
  shift
  rm -f "$work/window"
  # shellcheck disable=SC2016
  timeout 120 xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
    window_file="$1" answer="$2"; shift 2
    "$@" </dev/null >/dev/null 2>"$window_file.stderr" &
    pid=$!
    # The key goes again while the window stays: one sent before the window took input is lost.
    while kill -0 "$pid" 2>/dev/null; do
      w=$(xdotool search --name "^Velmora$" 2>/dev/null | head -1)
      if [ -n "$w" ]; then echo "$w" >"$window_file"; sleep 0.3; xdotool key --window "$w" "$answer" 2>/dev/null; fi
      sleep 0.1
    done
    wait "$pid"' _ "$work/window" "$answer" "$velmora" "$@"
  rc=$?
  mv -f "$work/window.stderr" "$work/stderr" 2>/dev/null
}

mkdir -p "$work/d/tree" && cd "$work/d" && printf 'one' >tree/a.txt && printf 'not an archive' >fake.pck
on_desktop Return missing/x.txt
expect_rc 1 "a missing folder on a desktop"
check "a missing folder shows the failure in a window" test -s "$work/window"
on_desktop Return fake.pck
expect_rc 4 "a file that is not an archive on a desktop"
check "the damage shows in a window" test -s "$work/window"
stderr_has "fake.pck: not a Velmora archive" "and on standard error as before"
on_desktop Return tree
expect_rc 0 "a compress that succeeds"
check "shows no failure window" test ! -e "$work/window"
on_desktop Return -h fake.pck
expect_rc 4 "-h and a failure"
check "-h shows no window" test ! -e "$work/window"
finish
