#!/usr/bin/env bash
# Whole-program benchmark: compresses and restores each input with the built program (no progress
# window), once with one worker (VELMORA_THREADS=1) and once with the default (a worker per
# processor), and on the same input tar piped through gzip -6, pigz -6, zstd -3 and zstd -3 -T0.
# Each figure is the median of RUNS runs (default 3), the tools taking turns run by run; it reports
# size, ratio, speed and the peak resident memory of each (GNU time's %M), and the speed of the
# default run over the one-worker run.
#   program_bench.sh [velmora] [file or folder...]
# Defaults: build/velmora, the test data folder and the 64 MiB mixed file of make_mixed_file.sh.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
program=$(realpath "${1:-$here/../build/velmora}")
shift || true
inputs=("$@")
if [ ${#inputs[@]} -eq 0 ]; then
  inputs=("$here/../tests/data" "$(bash "$here/make_mixed_file.sh")")
fi
runs=${RUNS:-3}
[ -x "$program" ] || { echo "no program at $program (build it first)" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "GNU time (/usr/bin/time) is needed" >&2; exit 1; }

work=$(mktemp -d /tmp/velmora-program-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT

# Runs a command, printing "seconds peak-KiB"; fails the bench when the command fails.
measure() {
  /usr/bin/time -f "%e %M" -o "$work/time" "$@" >/dev/null 2>"$work/stderr" ||
    { cat "$work/stderr" >&2; echo "failed: $*" >&2; exit 1; }
  cat "$work/time"
}
median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# One tool: compress and restore commands (run in $work, input $name), and the packed file.
declare -A compress restore packed
add() { compress[$1]=$2; restore[$1]=$3; packed[$1]=$4; }

for input in "${inputs[@]}"; do
  input=$(realpath "$input")
  name=$(basename "$input")
  rm -rf "${work:?}"/*
  cp -r "$input" "$work/$name"
  # Links to nothing and folders without files are left out by velmora; the others get neither.
  find "$work/$name" -xtype l -delete
  find "$work/$name" -depth -type d -empty -delete
  bytes=$(du -sb --apparent-size "$work/$name" | cut -f1)
  archive="${name%.*}.pck"
  [ -d "$work/$name" ] && archive="$name.pck"
  compress=() restore=() packed=()
  tools=()
  for workers in 1 default; do
    env=""
    [ "$workers" = 1 ] && env="VELMORA_THREADS=1"
    add "velmora-$workers" "env $env '$program' -h -o '$name'" \
      "mkdir -p out && mv '$archive' out/ && env $env '$program' -h -o 'out/$archive'" "out/$archive"
    tools+=("velmora-$workers")
  done
  peers=("gzip -6" "pigz -6 -p 2" "zstd -3 -q" "zstd -3 -q -T0")
  for peer in "${peers[@]}"; do
    command -v "${peer%% *}" >/dev/null || { echo "(${peer%% *} is not installed: left out)"; continue; }
    add "$peer" "tar -cf - '$name' | $peer -c > peer" "mkdir -p out && ${peer%% *} -d -c < peer | tar -xf - -C out" peer
    tools+=("$peer")
  done
  declare -A ct ck ut uk size
  for tool in "${tools[@]}"; do ct[$tool]=""; ck[$tool]=""; ut[$tool]=""; uk[$tool]=""; done
  for ((run = 0; run < runs; ++run)); do
    for tool in "${tools[@]}"; do
      cd "$work"
      rm -rf out peer "$archive"
      read -r t k < <(measure bash -c "${compress[$tool]}")
      ct[$tool]+="$t "; ck[$tool]+="$k "
      size[$tool]=$(stat -c %s "${packed[$tool]}" 2>/dev/null || stat -c %s "$archive")
      read -r t k < <(measure bash -c "${restore[$tool]}")
      ut[$tool]+="$t "; uk[$tool]+="$k "
      diff -r -q "$work/$name" "$work/out/$name" >/dev/null || { echo "$tool: restored data differs" >&2; exit 1; }
      cd - >/dev/null
    done
  done
  echo "== $input ($bytes bytes, medians of $runs runs)"
  printf "%-16s %11s %6s %9s %9s %8s %8s\n" tool size ratio "c MB/s" "u MB/s" "c MiB" "u MiB"
  for tool in "${tools[@]}"; do
    tc=$(tr ' ' '\n' <<<"${ct[$tool]}" | grep . | median); kc=$(tr ' ' '\n' <<<"${ck[$tool]}" | grep . | median)
    tu=$(tr ' ' '\n' <<<"${ut[$tool]}" | grep . | median); ku=$(tr ' ' '\n' <<<"${uk[$tool]}" | grep . | median)
    awk -v n="$tool" -v b="$bytes" -v p="${size[$tool]}" -v tc="$tc" -v kc="$kc" -v tu="$tu" -v ku="$ku" 'BEGIN {
      mb = b / 1e6; printf "%-16s %11d %6.3f %9.1f %9.1f %8.1f %8.1f\n", n, p, b / p,
        (tc > 0 ? mb / tc : 0), (tu > 0 ? mb / tu : 0), kc / 1024, ku / 1024 }'
    [ "$tool" = velmora-1 ] && { one_c=$tc; one_u=$tu; }
    [ "$tool" = velmora-default ] && { many_c=$tc; many_u=$tu; }
  done
  awk -v a="$one_c" -v b="$many_c" -v c="$one_u" -v d="$many_u" 'BEGIN {
    printf "default workers over one worker: compress %.2fx, restore %.2fx\n", (b > 0 ? a / b : 0), (d > 0 ? c / d : 0) }'
  unset ct ck ut uk size
done
