#!/usr/bin/env bash
# The search after damage: an archive of about 1 GB (the mixed file repeated, compressed, and one
# small file after it) whose first entry's name is damaged, so that the whole first entry is
# searched before the chain is found again at the small one. Prints the median seconds of -t on
# the damaged archive and the search speed (the archive's size over that time).
#   recovery_bench.sh [velmora] [runs]     (defaults: build/velmora, 5 runs)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
velmora=$(realpath "${1:-$here/../build/velmora}")
runs=${2:-5}
work=${VELMORA_BENCH_DIR:-/tmp/velmora-bench}/recovery
mix=$(bash "$here/make_mixed_file.sh")
seconds() { local s e; s=$(date +%s.%N); "$@" >/dev/null 2>&1 </dev/null || true; e=$(date +%s.%N); echo "$e - $s" | bc; }
median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
if [ ! -f "$work/big.pck" ]; then
  rm -rf "$work" && mkdir -p "$work/big"
  for _ in $(seq 40); do cat "$mix"; done >"$work/big/a-large.bin"
  echo "the entry after the damage" >"$work/big/z-small.txt"
  (cd "$work" && "$velmora" -h -o big)
  rm -rf "$work/big"
fi
size=$(stat -c %s "$work/big.pck")
cp "$work/big.pck" "$work/damaged.pck"
# Flip the top byte of the first entry's offset (the chain refuses it) and its first name unit
# (its blocks no longer match the seed of its header, so it cannot be mended): the search starts
# at byte 1.
python3 "$here/../tests/cli/pck.py" flip "$work/damaged.pck" 7
python3 "$here/../tests/cli/pck.py" flip "$work/damaged.pck" 8
"$velmora" -h -t "$work/damaged.pck" 2>&1 | tail -3 || true
t=$(for ((r = 0; r < runs; ++r)); do seconds "$velmora" -h -t "$work/damaged.pck"; done | median)
echo "archive $size bytes; -t of the damaged archive: median $t s; search $(echo "$size / $t / 1000000" | bc) MB/s"
