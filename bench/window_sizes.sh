#!/usr/bin/env bash
# Compress and restore time, peak memory and size at windows of 2 to 64 MiB, with one worker and
# with two, on the 64 MiB bench mix and on a real file (default: the first 40 MiB of a tar of
# /usr/include). Medians of the given number of runs; peak memory is GNU time's maximum resident
# size of the run.
#   window_sizes.sh velmora [real-file] [runs]     (default runs: 3)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
program=$(realpath "$1")
runs=${3:-3}
work=$(mktemp -d /tmp/velmora-windows.XXXXXX)
trap 'rm -rf "$work"' EXIT
mix=$(bash "$here/make_mixed_file.sh")
real=${2:-}
if [ -z "$real" ]; then
  real="$work/include-40m.tar"
  tar -cf - --sort=name /usr/include 2>/dev/null | head -c $((40 * 1048576)) >"$real" || true
fi
median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
# measure FILE -- command...: appends "seconds kilobytes" of the run to FILE
measure() {
  local out=$1; shift; shift
  /usr/bin/time -f '%e %M' -o "$work/one" "$@" >/dev/null 2>&1 </dev/null
  cat "$work/one" >>"$out"
}
printf '%-10s %-8s %7s %10s %9s %10s %9s %10s %7s\n' input window workers compress_s compress_MB restore_s restore_MB size_bytes ratio
for input in "$mix" "$real"; do
  name=$(basename "$input")
  label=${name%%.*}
  size=$(stat -c %s "$input")
  for mib in 2 4 8 16 32 64; do
    for workers in 1 2; do
      rm -f "$work"/*.c "$work"/*.r
      mkdir -p "$work/run" && cp "$input" "$work/run/$name"
      for ((r = 0; r < runs; ++r)); do
        (cd "$work/run" && measure "$work/t.c" -- env -u DISPLAY VELMORA_THREADS=$workers "$program" -h -o -w=$((mib * 1048576)) "$name")
        mkdir -p "$work/run/back"
        (cd "$work/run" && measure "$work/t.r" -- env -u DISPLAY VELMORA_THREADS=$workers "$program" -h -o -d=back "${name%.*}.pck")
        cmp -s "$work/run/$name" "$work/run/back/$name" || { echo "restore differs: $mib MiB, $workers workers" >&2; exit 1; }
        rm -rf "$work/run/back"
      done
      packed=$(stat -c %s "$work/run/${name%.*}.pck")
      printf '%-10s %-8s %7s %10.2f %9d %10.2f %9d %10d %7.3f\n' "$label" "${mib}MiB" "$workers" \
        "$(cut -d' ' -f1 "$work/t.c" | median)" $(($(cut -d' ' -f2 "$work/t.c" | median) / 1024)) \
        "$(cut -d' ' -f1 "$work/t.r" | median)" $(($(cut -d' ' -f2 "$work/t.r" | median) / 1024)) \
        "$packed" "$(echo "$size / $packed" | bc -l)"
      rm -rf "$work/run" "$work/t.c" "$work/t.r"
    done
  done
done
