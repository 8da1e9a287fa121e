#!/bin/bash
# Builds (once) a large mixed file from real files of this machine for the engine bench: text
# (headers, documentation) and binaries, in tar order, cut to the requested size.
#   make_mixed_file.sh [output] [megabytes]     (defaults: /tmp/velmora-bench/mixed-64m.bin, 64)
set -euo pipefail
out=${1:-/tmp/velmora-bench/mixed-64m.bin}
megabytes=${2:-64}
bytes=$((megabytes * 1048576))
if [ -f "$out" ] && [ "$(stat -c %s "$out")" -eq "$bytes" ]; then
  echo "$out"
  exit 0
fi
mkdir -p "$(dirname "$out")"
binaries=()
for b in /usr/bin/cmake /usr/bin/gdb /usr/bin/ctest /usr/bin/perf /usr/lib/x86_64-linux-gnu/libc.so.6; do
  [ -f "$b" ] && binaries+=("$b")
done
# Interleave: a slice of text, the binaries, then more text, so every part of the file is mixed.
{
  tar -cf - --sort=name /usr/include 2>/dev/null | head -c $((bytes * 3 / 8)) || true
  tar -cf - "${binaries[@]}" 2>/dev/null | head -c $((bytes / 4)) || true
  tar -cf - --sort=name /usr/share/doc 2>/dev/null || true
} | head -c "$bytes" > "$out.part"
if [ "$(stat -c %s "$out.part")" -ne "$bytes" ]; then
  echo "not enough data for $megabytes MiB" >&2
  rm -f "$out.part"
  exit 1
fi
mv "$out.part" "$out"
echo "$out"
