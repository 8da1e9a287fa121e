#!/usr/bin/env bash
# Runs every fuzz target for its share of the given seconds on a seed corpus made from the golden
# blocks and fuzz/corpus/blocks, what the block targets found before (the golden archives for the
# restore target). Exits non-zero as soon as a target finds a crash.
#   bash tools/fuzz.sh <build dir> <seconds>
set -euo pipefail
build=${1:?build directory}
seconds=${2:-60}
here=$(cd "$(dirname "$0")" && pwd)
targets=(fuzz_decompress fuzz_differential fuzz_roundtrip fuzz_restore)
share=$(( seconds / ${#targets[@]} ))
[ "$share" -ge 1 ] || share=1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for target in "${targets[@]}"; do
  exe=$(find "$build" -type f -name "$target" -perm -u+x | head -n 1)
  if [ -z "$exe" ]; then
    echo "fuzz: $target not built in $build" >&2
    exit 2
  fi
  corpus="$work/$target"
  mkdir -p "$corpus" "$work/artifacts-$target"
  # Inputs as long as the target needs to reach every path, and short enough for many a second.
  case "$target" in
    fuzz_decompress | fuzz_differential) max_len=300000 ;;
    fuzz_roundtrip) max_len=8192 ;;
    *) max_len=65536 ;;
  esac
  if [ "$target" = fuzz_restore ]; then
    cp "$here/../tests/golden/"*.pck "$corpus/"
  else
    cp "$here/../tests/golden/"*.blk "$here/../fuzz/corpus/blocks/"* "$corpus/"
  fi
  echo "fuzz: $target for ${share}s"
  # Leaks are not looked for: the targets start the units once and never stop them, so what the
  # units hold is still held when the process ends.
  if ! ASAN_OPTIONS=detect_leaks=0 "$exe" -max_total_time="$share" -max_len=$max_len -rss_limit_mb=4096 \
      -artifact_prefix="$work/artifacts-$target/" "$corpus" >"$work/$target.log" 2>&1; then
    tail -n 40 "$work/$target.log" >&2
    mkdir -p "$build/fuzz-crashes"
    cp "$work/artifacts-$target/"* "$build/fuzz-crashes/" 2>/dev/null || true
    echo "fuzz: $target found a crash (inputs kept in $build/fuzz-crashes)" >&2
    exit 1
  fi
  tail -n 2 "$work/$target.log"
done
echo "fuzz: no crash found"
