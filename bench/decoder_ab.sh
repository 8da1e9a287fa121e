#!/bin/bash
# Builds and runs bench/decoder_ab.cpp: the block decoder of this tree against the one of another
# revision (default HEAD), in one process, single thread, on the tree of header files (one block
# per file), the same tree as one stream of 2 MiB blocks, and the 64 MiB mix of make_mixed_file.sh.
#   decoder_ab.sh [baseline revision] [runs] [inputs...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
revision=${1:-HEAD}
runs=${2:-7}
shift $(($# < 2 ? $# : 2))
out="$root/build/decoder-ab"
mkdir -p "$out"
if [ $# -eq 0 ]; then
  tar -cf "$out/tree.tar" --sort=name /usr/include 2>/dev/null || true
  set -- /usr/include "$out/tree.tar:2097152" "$("$root/bench/make_mixed_file.sh"):2097152"
fi
names=(DecompressBlock BlockBodyLength IsStoredForm CapacityNeeded RestorePrePassInPlace RunLengthPack
       RunLengthUnpackLimited RunLengthUnpack)
renames=()
for n in "${names[@]}"; do renames+=("-D$n=Baseline_$n"); done
cmake -S "$root" -B "$root/build" > /dev/null
cmake --build "$root/build" --target velmora_engine velmora_foundation velmora_platform -j"$(nproc)" > /dev/null
objects=()
for unit in Decoder PrePass; do
  git -C "$root" show "$revision:engine/$unit.cpp" > "$out/Baseline$unit.cpp"
  g++ -std=c++17 -O2 -g -I"$root" "${renames[@]}" -c "$out/Baseline$unit.cpp" -o "$out/Baseline$unit.o"
  objects+=("$out/Baseline$unit.o")
done
g++ -std=c++17 -O2 -g -I"$root" "$root/bench/decoder_ab.cpp" "${objects[@]}" \
  "$root/build/libvelmora_engine.a" "$root/build/libvelmora_foundation.a" "$root/build/libvelmora_platform.a" \
  -lpthread -o "$out/decoder_ab"
"$out/decoder_ab" -r="$runs" "$@"
