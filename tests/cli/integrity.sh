# What the check values catch, end to end (every single-byte change of a checked block is tried
# in-process, in tests/engine/DecodeTest.cpp), and the two ways to look at an archive without
# restoring it: a swapped pair of blocks; -t and -l on good, damaged, cut
# and unchecked archives; windows of 8 to 64 MiB on real data, restored without -w.
source "$(dirname "$0")/common.bash"

mkdir -p "$work/i/d/s" && cd "$work/i"
cp "$corpus/alice29.txt" d/alice.txt
cp "$corpus/fireworks.jpeg" d/s/photo.jpeg
runs 0 "compress a tree of compressed and stored blocks" -h -w=16384 d

# A swapped pair of blocks (each whole and checked on its own) is caught and the existing file
# kept; a changed name or time is kept_files.sh's.
mkdir -p "$work/j" && cd "$work/j"
cp "$corpus/alice29.txt" a.txt
run -h -w=16384 a.txt
pck swap-blocks a.pck 2 5
printf 'kept' >a.txt
runs 4 "a swapped pair of blocks" -h -o a.pck
check "the existing file is kept" test "$(cat a.txt)" = kept
stderr_has "a.txt: damaged entry: block 2 does not match its check value" "the block is named"

# -t: nothing written or asked; -l: one line an entry and a total.
cd "$work/i"
rm -rf d
runs 0 "-t on a whole archive" -t d.pck
check "-t writes nothing" test ! -e d
check "-t counts what it checked" grep -q '^2 entries, 275182 bytes checked; 0 not checkable' "$work/stdout"
runs 0 "-l on a whole archive" -l d.pck
check "-l: a line an entry, sizes from the trailers" \
  grep -Eq '^ +152089 +[0-9]+  [0-9]{4}-[0-9]{2}-[0-9]{2} [0-9:]{8}  d\\alice.txt$' "$work/stdout"
check "-l: a header" grep -Eq "^ +size +packed  modified +name$" "$work/stdout"
check "-l: the total, exact and as people read it" \
  grep -Eq "^ +275182 +$(stat -c %s d.pck)  2 entries: 275.2 kB in [0-9.]+ kB$" "$work/stdout"
cp d.pck bad.pck
pck flip bad.pck 700
runs 4 "-t on a damaged archive" -t bad.pck
check "-t: one line for the damaged entry" [ "$(grep -c 'd\\alice.txt: damaged entry: block' "$work/stderr")" = 1 ]
head -c 90000 d.pck >cut.pck
runs 4 "-l on a cut archive" -l cut.pck
stderr_has "damaged: the archive is cut short inside the entry at offset 86" "-l says where the archive is cut"
stderr_has "; 1 entry was listed, the rest of the archive cannot be read from there" "-l says how far it got"
runs 4 "-t on a cut archive" -t cut.pck
cp "$here/../golden/tree.pck" old.pck
runs 0 "-l on an archive made before check values" -l old.pck
check "-l shows its sizes as ?" grep -Eq '^ +\? ' "$work/stdout"
runs 0 "-t -l on an old archive" -t -l old.pck
check "-t -l computes its sizes" test -z "$(grep -E '^ +\? ' "$work/stdout")"
check "-t says its entries are not checkable" grep -Eq 'bytes checked; [1-9][0-9]* not checkable' "$work/stdout"

# Control characters of a stored name, C1 ones (CSI) among them, are shown escaped, never raw.
pck craft ctl.pck "$(printf 'a\x1b[2Jb')=x" "$(printf 'c\xc2\x9b31md')=y"
run -l ctl.pck
check "-l escapes ESC" grep -qF 'a\x1B[2Jb' "$work/stdout"
check "-l escapes CSI" grep -qF 'c\x9B31md' "$work/stdout"
check "no raw control byte reaches the output" test "$(LC_ALL=C grep -c $'[\x1b]\\|\xc2\x9b' "$work/stdout")" = 0
run -h ctl.pck
check "nor the reports" test "$(LC_ALL=C grep -c $'[\x1b]\\|\xc2\x9b' "$work/stderr")" = 0

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
