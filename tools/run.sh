#!/usr/bin/env bash
# Installs what is missing, builds velmora, and runs it.
#   tools/run.sh [arguments...]   runs velmora with the arguments given
#   tools/run.sh                  compresses a copy of samples/, restores it into a fresh folder
#                                 and compares the two trees file by file
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
echo "== checking the packages the build needs (tools/deps.sh installs what is missing)" >&2
bash "$root/tools/deps.sh"
echo "== configuring the build in $root/build" >&2
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
echo "== building velmora (a minute on a fresh clone)" >&2
cmake --build "$root/build" -j"$(nproc)" --target velmora >/dev/null
echo "== built: $root/build/velmora" >&2
velmora="$root/build/velmora"

if [ $# -gt 0 ]; then
  exec "$velmora" "$@"
fi

work="$(mktemp -d /tmp/velmora-sample.XXXXXX)"
trap 'rm -rf "$work"' EXIT  # the sample's copies go when the run ends, whatever way it ends
mkdir -p "$work/packed" "$work/restored"
cp -a "$root/samples" "$work/packed/samples"
mkdir -p "$work/packed/samples/empty-folder"   # git keeps no empty folders; this one is not restored

echo "== compressing $work/packed/samples"
"$velmora" -h "$work/packed/samples"
ls -l "$work/packed/samples.pck"

echo "== restoring into $work/restored"
mv "$work/packed/samples.pck" "$work/restored/"
"$velmora" -h "$work/restored/samples.pck"

echo "== comparing (the empty folder is not recorded, so it is left out of the comparison)"
rmdir "$work/packed/samples/empty-folder"
diff -r "$work/packed/samples" "$work/restored/samples"
find "$work/restored/samples" -type f | sort | sed "s|$work/restored/||"
echo "every file came back byte for byte (the copies in $work are removed now)"
