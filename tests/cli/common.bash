# Shared helpers of the end-to-end scripts, sourced as: source common.bash "$@"
# The scripts are run as: bash script.sh <path-to-velmora> <corpus-dir>
set -uo pipefail

if [ ! -x "$1" ]; then
  echo "skip: $1 has not been built"
  exit 0
fi

if [ ! -d "${2:-}" ] || [ ! -f "$2/alice29.txt" ]; then
  echo "FAIL: the test data folder '${2:-}' is missing (tests/data in the repository)" >&2
  exit 1
fi
velmora="$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"
corpus="$(cd "$2" && pwd)"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
pck() { python3 "$here/pck.py" "$@"; }

work="$(mktemp -d /tmp/velmora-cli.XXXXXX)"
chmod 755 "$work"
# A copy of the program that another user can run: the clone may lie in a private folder (mode
# 700, as a root user's home is), which the runs that drop to another user cannot enter.
anyone="$(mktemp -d /tmp/velmora-program.XXXXXX)"
cp "$velmora" "$anyone/velmora"
chmod 755 "$anyone" "$anyone/velmora"
velmora_for_anyone="$anyone/velmora"
cleanup() {
  chmod -R u+rwX "$work" 2>/dev/null
  rm -rf "$work" "$anyone"
}
trap cleanup EXIT

failures=0
checks=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
check() {  # check "description" command...
  local what="$1"
  shift
  checks=$((checks + 1))
  if ! "$@"; then fail "$what"; fi
}
finish() {
  echo "$checks checks, $failures failed"
  [ "$failures" -eq 0 ]
  exit $?
}

# Runs a command (the program, or a wrapper around it) without a display, stdin closed to
# questions, in the current directory. Sets rc and leaves its output in $work/stdout and stderr.
launch() {
  env -u DISPLAY timeout 300 "$@" </dev/null >"$work/stdout" 2>"$work/stderr"
  rc=$?
}
run() { launch "$velmora" "$@"; }
runs() {  # runs CODE "description" args...: run, then expect_rc
  local code="$1" what="$2"
  shift 2
  run "$@"
  expect_rc "$code" "$what"
}
ask() {  # ask ANSWERS args...: run on a pseudo-terminal in the current folder; questions in $work/asked
  python3 "$here/pty_answer.py" "$work/asked" "$1" "$velmora" "${@:2}" >/dev/null 2>&1
  rc=$?
}
# An unprivileged user, for whom permissions apply; can_drop says whether one can be had (root
# with setpriv).
nobody=(setpriv --reuid=65534 --regid=65534 --clear-groups)
can_drop=0
[ "$(id -u)" = 0 ] && "${nobody[@]}" true 2>/dev/null && can_drop=1
as_nobody() {  # as_nobody args...: like run, as that user when it can be had (else as ourselves)
  if [ "$can_drop" = 1 ]; then launch "${nobody[@]}" "$velmora_for_anyone" "$@"; else run "$@"; fi
}
# on_full_disk SETUP args...: runs SETUP (shell commands) and then the program with args inside a
# fresh 1 MiB tmpfs; sets rc and copies what the disk holds afterwards to $work/disk-after.
# Returns 1 when no such disk can be mounted here (it needs root and mount rights).
on_full_disk() {
  local setup="$1"
  shift
  rm -rf "$work/disk" "$work/disk-after" && mkdir -p "$work/disk"
  [ "$(id -u)" = 0 ] && command -v unshare >/dev/null || return 1
  # shellcheck disable=SC2016
  unshare -m bash -c 'mount -t tmpfs -o size=1m tmpfs "$0" || exit 77
    cd "$0" && eval "$1" && shift && env -u DISPLAY timeout 300 "$@" </dev/null >/dev/null 2>"$0.stderr"
    echo $? >"$0.rc"; cp -a . "$0.after"; cd / && umount "$0"' "$work/disk" "$setup" "$velmora" "$@" \
    2>"$work/disk-errors"
  [ $? != 77 ] || return 1
  [ -f "$work/disk.rc" ] || { fail "the full-disk run itself broke: $(cat "$work/disk-errors")"; return 1; }
  rc=$(cat "$work/disk.rc") && mv "$work/disk.stderr" "$work/stderr" && mv "$work/disk.after" "$work/disk-after"
}
expect_rc() {  # expect_rc CODE "description"
  checks=$((checks + 1))
  if [ "$rc" -ne "$1" ]; then
    fail "$2: exit code $rc, expected $1; stderr: $(head -c 600 "$work/stderr")"
  fi
}
stderr_has() {  # stderr_has TEXT "description"
  checks=$((checks + 1))
  grep -qF -- "$1" "$work/stderr" || fail "$2: standard error lacks '$1': $(head -c 600 "$work/stderr")"
}
no_temporaries() {  # no_temporaries DIR "description": no named temporary of a run is left
  checks=$((checks + 1))
  local left
  left="$(find "$1" -name '.velmora-*' 2>/dev/null)"
  [ -z "$left" ] || fail "$2: temporary files left behind: $left"
}
corpus_text() {  # corpus_text BYTES: the corpus's texts over and over, cut to BYTES (real data)
  local texts=("$corpus/alice29.txt" "$corpus/asyoulik.txt")
  while cat "${texts[@]}" 2>/dev/null; do :; done | head -c "$1"
}
wait_written() {  # wait_written PID BYTES: until the process has written BYTES bytes (or ended)
  local written
  for _ in $(seq 1 1000); do
    written=$(awk '/^wchar:/ { print $2 }' "/proc/$1/io" 2>/dev/null) || return 0
    [ -n "$written" ] && [ "$written" -ge "$2" ] && return 0
    sleep 0.02
  done
}
same_file() {  # same_file EXPECTED ACTUAL "description"
  checks=$((checks + 1))
  cmp -s "$1" "$2" || fail "$3: $2 differs from $1"
}
same_time() {  # same_time EXPECTED ACTUAL "description": last-write times to 100 ns
  checks=$((checks + 1))
  local a b
  # Seconds with nine decimals, cut to seven: the 100 ns unit of a stored time (no Python start).
  a="$(stat -c %.9Y "$1")"
  b="$(stat -c %.9Y "$2")"
  [ "${a%??}" = "${b%??}" ] || fail "$3: time of $2 is $b, expected $a"
}
