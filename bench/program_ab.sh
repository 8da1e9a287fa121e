#!/usr/bin/env bash
# Two builds of the program side by side on one input: compress and restore with every worker
# (no progress window), the builds taking turns run by run; prints the median seconds of each and
# the ratio B / A. Use it to price a change: A is the baseline build, B the changed one.
#   program_ab.sh A-velmora B-velmora [file or folder] [runs]   (default: the 64 MiB mix, 7 runs)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
a=$(realpath "$1")
b=$(realpath "$2")
input=$(realpath "${3:-$(bash "$here/make_mixed_file.sh")}")
runs=${4:-7}
work=$(mktemp -d /tmp/velmora-ab.XXXXXX)
trap 'rm -rf "$work"' EXIT
name=$(basename "$input")
archive="${name%.*}.pck"
[ -d "$input" ] && archive="$name.pck"
seconds() { local s e; s=$(date +%s.%N); "$@" >/dev/null 2>&1 </dev/null; e=$(date +%s.%N); echo "$e - $s" | bc; }
median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
for build in a b; do mkdir -p "$work/$build"; cp -r "$input" "$work/$build/"; done
for ((r = 0; r < runs; ++r)); do
  for build in a b; do
    program=$a
    [ $build = b ] && program=$b
    cd "$work/$build"
    seconds env -u DISPLAY "$program" -h -o "$name" >>"$work/$build.compress"
    mkdir -p back && mv "$archive" back/ && cd back
    seconds env -u DISPLAY "$program" -h -o "$archive" >>"$work/$build.restore"
    cd .. && rm -rf back
  done
done
for step in compress restore; do
  ma=$(median <"$work/a.$step")
  mb=$(median <"$work/b.$step")
  printf '%-8s A %.3f s  B %.3f s  B/A %.3f  (medians of %d)\n' "$step" "$ma" "$mb" "$(echo "$mb / $ma" | bc -l)" "$runs"
done
