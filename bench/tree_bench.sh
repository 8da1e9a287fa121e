#!/usr/bin/env bash
# A tree of small files, compressed and restored by the program and by tar with gzip, pigz and
# zstd, side by side in one run, in memory (/dev/shm) and on disk: medians of the given number of
# runs, whole processes. Also the system calls a restored entry costs (strace -f -c).
#   tree_bench.sh velmora [tree] [runs]     (default: /usr/include without dangling links, 3 runs)
set -euo pipefail
program=$(realpath "$1")
tree=${2:-/usr/include}
runs=${3:-3}
median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
seconds() { local s e; s=$(date +%s.%N); "$@" >/dev/null 2>&1 </dev/null; e=$(date +%s.%N); echo "$e - $s" | bc; }
for place in /dev/shm /var/tmp; do
  work=$(mktemp -d "$place/velmora-tree.XXXXXX")
  cp -r "$tree" "$work/t" 2>/dev/null || true
  find "$work/t" -xtype l -delete
  find "$work/t" -depth -type d -empty -delete
  files=$(find "$work/t" -type f | wc -l)
  cd "$work"
  env -u DISPLAY "$program" -h t >/dev/null 2>&1 || true
  tar cf - t | gzip -6 >t.tar.gz
  tar cf - t | zstd -q -o t.tar.zst
  rm -rf t
  declare -A restore=(
    [velmora]="env -u DISPLAY $program -h t.pck"
    [tar+gzip]="tar -xzf t.tar.gz"
    [tar+pigz]="tar -I pigz -xf t.tar.gz"
    [tar+zstd]="tar -I zstd -xf t.tar.zst"
  )
  for ((r = 0; r < runs; ++r)); do
    for name in velmora tar+gzip tar+pigz tar+zstd; do
      rm -rf t
      # shellcheck disable=SC2086
      seconds ${restore[$name]} >>"$work/$name.r"
    done
  done
  echo "== $place: restore of $files files ($(du -sb t | cut -f1) bytes), medians of $runs"
  for name in velmora tar+gzip tar+pigz tar+zstd; do printf '%-9s %6.3f s\n' "$name" "$(median <"$work/$name.r")"; done
  for ((r = 0; r < runs; ++r)); do
    seconds env -u DISPLAY "$program" -h -o t >>"$work/velmora.c"
    seconds sh -c 'tar cf - t | pigz -6 -p2 >t2.tar.gz' >>"$work/tar+pigz.c"
  done
  echo "== $place: compress, medians of $runs"
  for name in velmora tar+pigz; do printf '%-9s %6.3f s\n' "$name" "$(median <"$work/$name.c")"; done
  if [ "$place" = /dev/shm ] && command -v strace >/dev/null; then
    rm -rf t
    strace -f -c -o "$work/calls" env -u DISPLAY "$program" -h t.pck >/dev/null 2>&1 || true
    total=$(awk '/^ *[0-9.]+ +[0-9.]+ +[0-9]+ +[0-9]+/ && $NF != "total" { s += $4 } END { print s }' "$work/calls")
    echo "== system calls a restored entry: $(echo "scale=1; $total / $files" | bc)"
  fi
  cd / && rm -rf "$work"
done
