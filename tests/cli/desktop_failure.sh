# On a desktop a failure shows where the user looks: a run that shows its windows and ends with
# exit 1, 2 or 4 shows one message window ("Velmora", the report's first lines, OK) before it ends;
# a run that succeeds, or one with -h, shows none. Needs Xvfb and xdotool (skipped without them).
source "$(dirname "$0")/common.bash"

if ! command -v Xvfb >/dev/null || ! command -v xdotool >/dev/null; then
  echo "skip: a virtual display (Xvfb) and xdotool are needed"
  exit 0
fi

# One virtual display for the whole script, on a number the server picks itself (-displayfd), so
# that no other test's display is taken or shut down under it.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
server=$!
trap 'kill "$server" 2>/dev/null; wait "$server" 2>/dev/null; cleanup' EXIT
for _ in $(seq 1 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { echo "FAIL: the virtual display did not start" >&2; exit 1; }
export DISPLAY=":$(head -1 "$work/display")"

# on_desktop ANSWER args...: runs the program on the virtual display in the current folder; while
# a window named Velmora is up, notes it in $work/window and presses ANSWER in it (again, until
# it goes: a key sent before the window takes input is lost). Sets rc.
on_desktop() {
  # A display that does not answer yet makes the program show its windows in the terminal (it
  # says so): that run is run again.
  for _ in 1 2 3 4 5; do
    answer_on_desktop "$@"
    grep -q "cannot be opened; the windows are shown in the terminal" "$work/stderr" || return 0
    sleep 0.5
  done
}
answer_on_desktop() {
  local answer="$1" pid w
  shift
  rm -f "$work/window"
  timeout 120 "$velmora" "$@" </dev/null >/dev/null 2>"$work/stderr" &
  pid=$!
  while kill -0 "$pid" 2>/dev/null; do
    w=$(xdotool search --name '^Velmora$' 2>/dev/null | head -1)
    if [ -n "$w" ]; then
      echo "$w" >"$work/window"
      sleep 0.3
      xdotool key --window "$w" "$answer" 2>/dev/null
    fi
    sleep 0.1
  done
  wait "$pid"
  rc=$?
}

mkdir -p "$work/d/tree" && cd "$work/d" && printf 'one' >tree/a.txt && printf 'not an archive' >fake.pck
on_desktop Return missing/x.txt
expect_rc 1 "a missing folder on a desktop"
check "a missing folder shows the failure in a window" test -s "$work/window"
on_desktop Return fake.pck
expect_rc 4 "a file that is not an archive on a desktop"
check "the damage shows in a window" test -s "$work/window"
stderr_has "fake.pck: not a Velmora archive" "and on standard error as before"
on_desktop Return -o tree
expect_rc 0 "a compress that succeeds"
check "shows no failure window" test ! -e "$work/window"
on_desktop Return -h fake.pck
expect_rc 4 "-h and a failure"
check "-h shows no window" test ! -e "$work/window"
finish
