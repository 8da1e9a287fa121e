#!/usr/bin/env bash
# The Windows program under Wine against the Linux one: a tree with names of many scripts, an empty file
# and a file of several blocks gives byte-identical archives from every build, and each archive
# restores byte for byte, with its times, in the other builds.
#   tests/windows/end_to_end.sh [linux build dir] [win64 build dir] [win32 build dir]
# The 32-bit program takes part only when its build dir is given: the caller knows whether 32-bit
# Wine is set up (the `wine` command alone can exist without it and then fails with exit 126).
set -uo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
linux="$root/${1:-build}/velmora"
win64="$root/${2:-build-win64}/velmora.exe"
win32="${3:+$root/$3/velmora.exe}"
wine=/usr/lib/wine/wine64
for need in "$linux" "$win64" "$wine"; do
  [ -x "$need" ] || [ -f "$need" ] || { echo "FAIL: $need is missing (tools/build-windows.sh builds the programs)" >&2; exit 1; }
done
work="$(mktemp -d /tmp/velmora-windows.XXXXXX)"
export WINEPREFIX="$work/prefix" WINEDEBUG=-all LANG=ru_RU.UTF-8
trap '/usr/lib/wine/wineserver -k 2>/dev/null; rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
mtime() { python3 "$root/tests/cli/pck.py" mtime "$1" 2>/dev/null; }

# The builds that run here: Linux, the 64-bit exe under wine64, the 32-bit one where Wine can run it.
builds=(linux win64)
run_linux() { "$linux" "$@"; }
run_win64() { "$wine" "$win64" "$@"; }
run_win32() { wine "$win32" "$@"; }
if [ -n "$win32" ]; then
  [ -f "$win32" ] && command -v wine >/dev/null || { echo "FAIL: $win32 or 32-bit Wine is missing" >&2; exit 1; }
  builds+=(win32)
fi

mkdir -p "$work/src/tree/Папка/Вложенная" && cd "$work/src"
cp "$root/tests/data/alice29.txt" "tree/Папка/Файл.txt"
cp "$root/tests/data/kppkn.gtb" "tree/Папка/Вложенная/таблица.gtb"
cat "$root/tests/data/"* >"tree/big.bin"
: >"tree/пустой"
printf 'b' >tree/b.txt
printf 'A' >tree/A.txt
# Names of every script, stored as the UTF-16 the file systems hold.
mkdir -p "tree/Ελληνικά"
for name in café.txt naïve.md 日本語.txt "Ελληνικά/Ölçü.csv" "😀 smile.txt"; do printf '%s' "$name" >"tree/$name"; done
for b in "${builds[@]}"; do
  rm -f tree.pck
  "run_$b" -h -w=262144 tree </dev/null >/dev/null 2>&1 || fail "$b: compress"
  mv tree.pck "$work/$b.pck"
done
for b in "${builds[@]}"; do
  cmp -s "$work/linux.pck" "$work/$b.pck" && echo "identical archives: linux and $b" || fail "$b: archive differs from linux"
done
for made in "${builds[@]}"; do
  for b in "${builds[@]}"; do
    [ "$made" = "$b" ] && continue
    out="$work/out-$made-$b"
    mkdir -p "$out" && cp "$work/$made.pck" "$out/tree.pck" && cd "$out"
    "run_$b" -h -w=262144 tree.pck </dev/null >/dev/null 2>&1 || fail "$b restoring the $made archive"
    diff -r "$work/src/tree" "$out/tree" >/dev/null || fail "$b restored the $made archive with other bytes"
    for f in "Папка/Файл.txt" big.bin пустой; do
      [ "$(mtime "$work/src/tree/$f")" = "$(mtime "$out/tree/$f")" ] ||
        fail "$b restored $f of the $made archive with another time"
    done
    echo "restored by $b from the $made archive"
    cd "$work"
  done
done
# Names Windows takes for devices: left out when compressing (never opened: a read of AUX or COM1
# would hang), refused when restoring, by every build.
mkdir -p "$work/dev/tree"
for name in aux.txt com1.log NUL.txt keep.txt; do printf 'bytes' >"$work/dev/tree/$name"; done
python3 "$root/tests/cli/pck.py" craft "$work/dev/dev.pck" 'CON=x' 'aux.txt=x' 'd\com1.log=x' 'ok.txt=fine'
command_of() {  # the command line of a build, one word a line (timeout cannot run a function)
  case $1 in
    linux) printf '%s\n' "$linux" ;;
    win64) printf '%s\n' "$wine" "$win64" ;;
    win32) printf '%s\n' wine "$win32" ;;
  esac
}
for b in "${builds[@]}"; do
  cd "$work/dev" && rm -rf tree.pck out
  mapfile -t program < <(command_of "$b")
  timeout 120 "${program[@]}" -h tree </dev/null >/dev/null 2>&1
  rc=$?
  [ "$rc" = 4 ] || fail "$b: a tree with device names gave exit $rc, not 4"
  [ "$(python3 "$root/tests/cli/pck.py" list tree.pck 2>/dev/null | awk '{print $6}')" = 'tree\keep.txt' ] ||
    fail "$b: a device name was stored"
  timeout 120 "${program[@]}" -h -d=out dev.pck </dev/null >/dev/null 2>&1
  rc=$?
  [ "$rc" = 4 ] && [ "$(cd out && find . -type f)" = ./ok.txt ] || fail "$b: device names restored (exit $rc)"
  echo "device names left out and refused by $b"
done
# A Unix link in the restore's folder, which Wine shows as a plain folder, is refused as a link is:
# nothing is written outside the folder.
mkdir -p "$work/link/out" "$work/link/outside"
ln -s "$work/link/outside" "$work/link/out/d"
python3 "$root/tests/cli/pck.py" craft "$work/link/l.pck" 'd\x.txt=escaped' 'ok.txt=fine'
for b in "${builds[@]}"; do
  [ "$b" = linux ] && continue
  mapfile -t program < <(command_of "$b")
  cd "$work/link" && rm -f out/ok.txt
  timeout 120 "${program[@]}" -h -d=out l.pck </dev/null >/dev/null 2>&1
  rc=$?
  [ "$rc" = 4 ] && [ -z "$(ls outside)" ] && [ -f out/ok.txt ] || fail "$b: followed a link out of the restore's folder (exit $rc)"
  echo "a Unix link in the restore's folder refused by $b"
done

# Names typed on the command line reach the program as UTF-16, whatever the system's code page
# (1251 under the Russian locale, 1252 under C.UTF-8): as sources and as -d= they are
# restored exactly, and -d=Résumé never becomes the other folder Resume.
for b in "${builds[@]}"; do
  [ "$b" = linux ] && continue
  mapfile -t program < <(command_of "$b")
  for lang in ru_RU.UTF-8 C.UTF-8; do
    typed="$work/typed-$b-$lang" && mkdir -p "$typed/Resume" && cd "$typed" && printf 'mine' >Resume/keep.txt
    for name in Café "Мои документы" 照片; do
      mkdir -p "$name" && printf '%s' "$name" >"$name/$name.txt"
      LANG=$lang timeout 120 "${program[@]}" -h "$name" </dev/null >/dev/null 2>&1 || fail "$b ($lang): compress $name"
      LANG=$lang timeout 120 "${program[@]}" -h "-d=Résumé/$name" "$name.pck" </dev/null >/dev/null 2>&1 ||
        fail "$b ($lang): restore $name.pck into Résumé/$name"
      cmp -s "$name/$name.txt" "Résumé/$name/$name/$name.txt" || fail "$b ($lang): $name restored with other bytes"
    done
    [ "$(find Resume -type f)" = Resume/keep.txt ] && [ "$(cat Resume/keep.txt)" = mine ] ||
      fail "$b ($lang): -d=Résumé touched Resume"
    echo "typed names restored exactly by $b under $lang"
  done
done
# On the desktop a failure shows in a window (the Windows program has no console): a missing
# folder, without -h, shows a window named Velmora; OK ends the run with exit 1.
if command -v xvfb-run >/dev/null && command -v xdotool >/dev/null; then
  # Wine's server and desktop of the runs above know no display: they go first, so that the
  # program starts on the virtual one.
  /usr/lib/wine/wineserver -k 2>/dev/null
  /usr/lib/wine/wineserver -w 2>/dev/null
  for b in win64; do  # the window code is the same in both widths; the 64-bit Wine is on every machine
    mapfile -t program < <(command_of "$b")
    cd "$work" && rm -f "$work/failure-window"
    # shellcheck disable=SC2016
    timeout 180 xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
      "${@:2}" "missing\\x.txt" </dev/null >/dev/null 2>&1 &
      pid=$!
      # The key goes again while the window stays: one sent before the window took input is lost.
      for _ in $(seq 1 600); do
        kill -0 "$pid" 2>/dev/null || break
        w=$(xdotool search --name "^Velmora$" 2>/dev/null | head -1)
        if [ -n "$w" ]; then echo "$w" >"$1"; sleep 0.5; xdotool key --window "$w" Return 2>/dev/null; fi
        sleep 0.1
      done
      wait "$pid"' _ "$work/failure-window" "${program[@]}"
    rc=$?
    [ "$rc" = 1 ] && [ -s "$work/failure-window" ] || fail "$b: a failure showed no window (exit $rc)"
    echo "a failure shows its window in $b"
  done
else
  echo "skip: the failure window under Wine (no xvfb-run or xdotool)"
fi
echo "$failures failures"
[ "$failures" -eq 0 ]
