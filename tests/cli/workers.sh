# The number of workers changes nothing a user sees: archives written with 1, 2 and 7 workers are
# byte for byte the same, and each restores the same files, times, reports and questions. (A cancel
# with blocks in flight is failed_runs.sh's: it runs with a worker per processor.)
source "$(dirname "$0")/common.bash"

mkdir -p "$work/w/tree/sub/deeper" "$work/w/tree/empty-dir" && cd "$work/w"
cp "$corpus/alice29.txt" tree/a.txt
cp "$corpus/fireworks.jpeg" tree/sub/b.jpeg
cp "$corpus/kppkn.gtb" tree/sub/deeper/c.gtb
: >tree/empty.txt
: >tree/sub/also-empty
# A window above 64 KiB: the small files then also go through the slots kept for small blocks.
window=131072
head -c $((2 * window + 1)) "$corpus/html_x_4" >tree/two-windows-and-one.bin
cat "$corpus"/* >tree/sub/many-blocks.bin
for i in $(seq 1 40); do head -c $((i * 700)) "$corpus/plrabn12.txt" >"tree/sub/small$i.txt"; done

for n in 1 2 7; do
  VELMORA_THREADS=$n run -h -o -w=$window tree
  expect_rc 0 "compress with $n workers"
  mv tree.pck "tree-$n.pck"
  VELMORA_THREADS=$n run -h -o -w=$window tree/sub/many-blocks.bin
  expect_rc 0 "compress one file with $n workers"
  mv tree/sub/many-blocks.pck "single-$n.pck"
done
same_file tree-1.pck tree-2.pck "a folder with 2 workers"
same_file tree-1.pck tree-7.pck "a folder with 7 workers"
same_file single-1.pck single-2.pck "a file with 2 workers"
same_file single-1.pck single-7.pck "a file with 7 workers"
check "the folder archive is a valid chain" pck check tree-1.pck

for n in 1 2 7; do
  mkdir -p "out-$n" && cp tree-1.pck "out-$n/tree.pck" && cd "out-$n"
  VELMORA_THREADS=$n run -h -w=$window tree.pck
  expect_rc 0 "restore with $n workers"
  cd ..
  check "$n workers restore every file" diff -r --exclude=empty-dir tree "out-$n/tree"
  same_time tree/sub/many-blocks.bin "out-$n/tree/sub/many-blocks.bin" "$n workers restore the times"
done

# Entries kept (nobody answers their question) after their blocks were read ahead: those blocks
# go, and the entries after them restore their own bytes.
mkdir -p skip/tree/sub && cp tree-1.pck skip/tree.pck && cd skip
for small in small3.txt small20.txt; do printf 'mine' >"tree/sub/$small"; done
VELMORA_THREADS=2 runs 0 "a restore that keeps two files, with 2 workers" -h -w=$window tree.pck
cd ..
check "the two files are kept" test "$(cat skip/tree/sub/small3.txt skip/tree/sub/small20.txt)" = minemine
check "every other file is restored" diff -rq --exclude=empty-dir --exclude=small3.txt --exclude=small20.txt tree skip/tree

# Two damaged small files among the others: the same files and the same reports, in archive order,
# whatever the workers (with several, the blocks of the entries after one are decoded ahead of it).
cp tree-1.pck damaged.pck
for small in small7.txt small31.txt; do
  pck list damaged.pck | awk -v n="tree\\sub\\$small" '$6 == n { print int(($1 + $2) / 2) }' >"$work/at"
  pck flip damaged.pck "$(cat "$work/at")"
done
for n in 1 7; do
  mkdir -p "bad-$n" && cp damaged.pck "bad-$n/tree.pck" && cd "bad-$n"
  VELMORA_THREADS=$n runs 4 "a damaged archive with $n workers" -h -w=$window tree.pck
  grep -v ' files, ' "$work/stderr" >"$work/reports-$n"
  cd ..
done
check "two damaged entries reported, in archive order" \
  test "$(grep -o 'sub.small[0-9]*.txt: damaged' "$work/reports-7" | tr '\n' ' ')" = 'sub/small31.txt: damaged sub/small7.txt: damaged '
check "the same reports with 1 and 7 workers" cmp -s "$work/reports-1" "$work/reports-7"
check "the same files with 1 and 7 workers" diff -r bad-1 bad-7

# The same questions, in the same order, whatever the workers: every file exists already.
for n in 1 2; do
  cd "out-$n"
  VELMORA_THREADS=$n python3 "$here/pty_answer.py" "$work/asked-$n" yyyy "$velmora" -w=$window tree.pck \
    >/dev/null 2>&1
  cd ..
done
check "the same questions with 1 and 2 workers" cmp -s "$work/asked-1" "$work/asked-2"
check "three questions, then Overwrite all" test "$(wc -l <"$work/asked-1")" = 4

finish
