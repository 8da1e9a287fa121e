#!/usr/bin/env bash
# Screenshots of the windows of every build under Xvfb: the usage window, an overwrite question, a
# question about a long name (a 357-character path, which the window breaks to stay on the screen)
# and the progress window, of the Linux program and of the Windows programs under Wine, with the
# geometry of each window (xwininfo) printed beside the file name, so the client sizes can be
# compared. The pictures go to the folder given (default /tmp/velmora-shots); none is kept in the
# repository.
#   tools/windows-screenshots.sh [output folder]
set -uo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
out="${1:-/tmp/velmora-shots}"
mkdir -p "$out"
for tool in xwininfo import Xvfb; do
  command -v "$tool" >/dev/null && continue
  [ "$(id -u)" -eq 0 ] || { echo "missing $tool: install x11-utils, imagemagick and xvfb" >&2; exit 1; }
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends x11-utils imagemagick xvfb >/dev/null
done
work="$(mktemp -d /tmp/velmora-shots.XXXXXX)"
display=:57
Xvfb "$display" -screen 0 1024x768x24 >/dev/null 2>&1 &
xvfb=$!
trap 'kill "$xvfb" 2>/dev/null; /usr/lib/wine/wineserver -k 2>/dev/null; rm -rf "$work"' EXIT
sleep 2
export DISPLAY="$display" WINEPREFIX="$work/prefix" WINEDEBUG=-all LANG=ru_RU.UTF-8

# shot NAME: the whole screen, and the geometry of the program's top-level windows.
shot() {
  import -window root "$out/$1.png"
  echo "$1.png: $(xwininfo -root -children | grep -E '^\s+0x[0-9a-f]+ .*[0-9]+x[0-9]+\+' | grep -v -E ' 1x1\+' |
    sed -E 's/.* ([0-9]+x[0-9]+\+-?[0-9]+\+-?[0-9]+).*/\1/' | tr '\n' ' ')"
}

# Wine makes its prefix first (with a window of its own), before any picture is taken.
/usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1
/usr/lib/wine/wineserver -w 2>/dev/null

for build in linux win64; do
  case $build in
    linux) run() { "$root/build/velmora" "$@"; } ;;
    win64) run() { /usr/lib/wine/wine64 "$root/build-win64/velmora.exe" "$@"; } ;;
  esac
  mkdir -p "$work/$build" && cd "$work/$build"
  # take NAME SECONDS args...: runs the build, waits, takes the shot, ends the run.
  take() {
    local name=$1 seconds=$2
    shift 2
    run "$@" >/dev/null 2>&1 &
    local pid=$!
    sleep "$seconds"
    shot "$build-$name"
    kill -9 "$pid" 2>/dev/null
    [ "$build" = linux ] || /usr/lib/wine/wineserver -k 2>/dev/null
    wait "$pid" 2>/dev/null
  }
  take usage 4 /?
  printf 'x' >a.txt && printf 'old' >a.pck
  take question 4 a.txt
  deep="long"
  while [ ${#deep} -lt 357 ]; do deep="$deep/a rather long folder name"; done
  mkdir -p "$deep" && printf 'x' >"$deep/report.txt"
  run -h -o long >/dev/null 2>&1
  take longname 4 long.pck
  head -c 60000000 /dev/urandom >big.bin
  VELMORA_THREADS=1 take progress 3 -o -w=65536 big.bin
done
echo "pictures in $out"
