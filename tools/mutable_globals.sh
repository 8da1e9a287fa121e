#!/usr/bin/env bash
# Lists the mutable variables with static storage of app/ and engine/ (file-scope, class-static and
# function-static ones: the objects in the writable .data and .bss sections of their object files,
# read with objdump), one per line with its unit, and their count on the last line. Constants,
# also those the loader relocates (.data.rel.ro), are not listed.
#   tools/mutable_globals.sh [build dir]
set -euo pipefail
build=${1:-build}
for library in "$build/libvelmora_app.a" "$build/libvelmora_engine.a"; do
  [ -f "$library" ] || { echo "missing $library (build first)" >&2; exit 1; }
  objdump -t -C "$library" | awk -F '\t' '
    /file format/ { unit = $1; sub(/\.o:.*$/, "", unit); sub(/.*\//, "", unit); next }
    NF >= 2 {
      split($1, head, " +"); section = head[length(head)]
      if (section !~ /^\.(bss|data)/ || section ~ /^\.data\.rel\.ro/ || $1 !~ / O /) next
      name = $2; sub(/^[0-9a-f]+ +(\.hidden +)?/, "", name)
      if (name ~ /^DW\.ref\.|guard variable/) next
      print unit "  " name
    }'
done | sort | tee /dev/stderr | wc -l | sed 's/^/mutable variables: /'
