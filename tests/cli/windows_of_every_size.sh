# A window whose work area cannot be had, and windows of 8 to 64 MiB on real data, restored
# without -w. (-t and -l of whole, damaged, cut, old and odd archives are rows of cases.txt;
# every single-byte change of a checked block is tried in-process, in tests/engine/DecodeTest.cpp.)
source "$(dirname "$0")/common.bash"

# A window whose work area cannot be had here says so before anything is written (exit 3); the
# address space is capped below what a 64 MiB window's area needs.
mkdir -p "$work/cap" && cd "$work/cap"
cp "$corpus/alice29.txt" a.txt && printf 'older' >a.pck
if (ulimit -v 1200000; "$velmora" --version) >/dev/null 2>&1; then  # a sanitized build cannot start so
  rc=$( (ulimit -v 1200000; env -u DISPLAY "$velmora" -h -o -w=67108864 a.txt </dev/null >/dev/null 2>"$work/stderr"); echo $?)
  expect_rc 3 "a window whose work area cannot be had"
  stderr_has "a window of 67108864 bytes needs a work area of" "the work area is named"
  check "the archive that was there is kept, and nothing else is left" test "$(cat a.pck)-$(ls -A | wc -l)" = older-2
else
  echo "note: this build does not start in 1.2 GB of address space (a sanitizer); the work-area case is not run"
fi

# Every window -w takes works on real data and restores without -w: the trailers say what the
# restore needs.
mkdir -p "$work/w" && cd "$work/w"
corpus_text 20000000 >rr.bin
for window in 8388608 33554432 67108864; do
  runs 0 "compress 20 MB of text with -w=$window" -h -o -w=$window rr.bin
  runs 0 "-t of the archive made with -w=$window" -t rr.pck
  mkdir -p "back$window"
  runs 0 "restore without -w ($window)" -h -d="back$window" rr.pck
  same_file rr.bin "back$window/rr.bin" "the -w=$window archive restores byte for byte"
done
finish
