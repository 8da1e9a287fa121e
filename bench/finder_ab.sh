#!/bin/bash
# Builds and runs bench/finder_ab.cpp: the match finder of this tree against the one of another
# revision (default HEAD), in one process, on one file (default: the 64 MiB mix of
# make_mixed_file.sh, in its three parts).
#   finder_ab.sh [file] [baseline revision] [finder_ab options...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
file=${1:-}
revision=${2:-HEAD}
shift $(($# < 2 ? $# : 2))
if [ -z "$file" ]; then
  file=$("$root/bench/make_mixed_file.sh")
  set -- --parts=text:24,binaries:40,documents:64 "$@"
fi
out="$root/build/finder-ab"
mkdir -p "$out/baseline"
git -C "$root" show "$revision:engine/MatchFinder.h" |
  sed 's/namespace matchfinder/namespace baseline_matchfinder/' > "$out/baseline/MatchFinder.h"
cmake -S "$root" -B "$root/build" > /dev/null
cmake --build "$root/build" --target velmora_engine velmora_foundation velmora_platform -j"$(nproc)" > /dev/null
g++ -std=c++17 -O2 -g -I"$root" -I"$out" "$root/bench/finder_ab.cpp" \
  "$root/build/libvelmora_engine.a" "$root/build/libvelmora_foundation.a" "$root/build/libvelmora_platform.a" -lpthread -o "$out/finder_ab"
"$out/finder_ab" "$file" "$@"
