#!/usr/bin/env bash
# Whole-program benchmark: compresses and restores each input with the built program (no
# progress window) and, on the same input, with tar piped through gzip -6 and zstd -3, and
# reports wall time, speed, size and the peak resident memory of each run (GNU time's %M).
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

row() {  # name bytes packed seconds-c kib-c seconds-u kib-u
  awk -v n="$1" -v b="$2" -v p="$3" -v tc="$4" -v kc="$5" -v tu="$6" -v ku="$7" 'BEGIN {
    mb = b / 1e6; printf "%-10s %12d %7.3f %9.1f %9.1f %9.1f %9.1f\n", n, p, b / p,
      (tc > 0 ? mb / tc : 0), (tu > 0 ? mb / tu : 0), kc / 1024, ku / 1024 }'
}

for input in "${inputs[@]}"; do
  input=$(realpath "$input")
  name=$(basename "$input")
  rm -rf "${work:?}"/*
  cp -r "$input" "$work/$name"
  bytes=$(du -sb --apparent-size "$work/$name" | cut -f1)
  echo "== $input ($bytes bytes)"
  printf "%-10s %12s %7s %9s %9s %9s %9s\n" tool size ratio "c MB/s" "u MB/s" "c MiB" "u MiB"

  # The program: a folder becomes name.pck beside it, a file name.ext becomes name.pck.
  cd "$work"
  read -r tc kc < <(measure "$program" -h -o "$name")
  archive="$work/${name%.*}.pck"
  [ -d "$work/$name" ] && archive="$work/$name.pck"
  packed=$(stat -c %s "$archive")
  mkdir "$work/restore" && mv "$archive" "$work/restore/"
  read -r tu ku < <(measure "$program" -h -o "$work/restore/$(basename "$archive")")
  diff -r -q "$work/$name" "$work/restore/$name" >/dev/null ||
    { echo "restored data differs from $input" >&2; exit 1; }
  row velmora "$bytes" "$packed" "$tc" "$kc" "$tu" "$ku"
  rm -rf "$work/restore"

  for tool in "gzip -6" "zstd -3 -q"; do
    read -r tc kc < <(measure bash -c "tar -cf - -C '$work' '$name' | $tool -c > '$work/peer'")
    packed=$(stat -c %s "$work/peer")
    mkdir "$work/restore-peer"
    read -r tu ku < <(measure bash -c "${tool%% *} -d -c < '$work/peer' | tar -xf - -C '$work/restore-peer'")
    row "${tool%% -q}" "$bytes" "$packed" "$tc" "$kc" "$tu" "$ku"
    rm -rf "$work/peer" "$work/restore-peer"
  done
  cd - >/dev/null
done
