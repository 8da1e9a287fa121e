# What people expect of an archiver every day: only the entries named after the archive, an
# ignored option named, a summary of what was done, a progress line that fits a narrow terminal.
source "$(dirname "$0")/common.bash"

mkdir -p "$work/e/tree/docs/a" "$work/e/tree/docs/b" && cd "$work/e"
cp "$corpus/alice29.txt" tree/docs/a/alice.txt
cp "$corpus/asyoulik.txt" tree/docs/b/play.TXT
cp "$corpus/fireworks.jpeg" tree/photo.jpeg
runs 0 "compress the tree" -h tree
bytes=$(find tree -type f -printf '%s\n' | awk '{ s += $1 } END { print s }')
human=$(awk -v b="$bytes" 'BEGIN { printf "%.1f kB", b / 1000 }')
stderr_has "velmora: 3 files, $human -> " "the summary counts the files and their bytes"
check "the summary gives the ratio, the time and the speed" \
  grep -Eq '^velmora: 3 files, .* \([0-9]+\.[0-9]{2}:1\) in [0-9]+\.[0-9] s, [0-9.]+ [kMG]?B/s$' "$work/stderr"

# Words after the archive: a name (either separator), a folder, a pattern (any case), or nothing.
listed() { awk 'NR > 1 && $NF ~ /^tree/ { print $NF }' "$work/stdout" | tr '\n' ' '; }
while IFS='|' read -r words expected; do
  eval "run -l tree.pck $words"
  expect_rc 0 "-l tree.pck $words"
  check "-l tree.pck $words lists $expected" test "$(listed)" = "$expected"
done <<'TABLE'
'tree/docs/a/alice.txt'|tree/docs/a/alice.txt 
'tree\docs'|tree/docs/a/alice.txt tree/docs/b/play.TXT 
'*.txt'|tree/docs/a/alice.txt tree/docs/b/play.TXT 
'TREE/PHOTO.JPEG' 'tree/docs/b'|tree/docs/b/play.TXT tree/photo.jpeg 
TABLE
runs 4 "a word that matches nothing" -t tree.pck 'tree/none' 'tree/photo.jpeg'
stderr_has "velmora: tree/none: matches no entry of the archive" "the word is named"
runs 0 "restore only a folder" -h -d=part tree.pck 'tree/docs/b'
check "only that folder is restored" test "$(cd part && find . -type f)" = ./tree/docs/b/play.TXT
# The summary counts what was touched: that entry in the archive, not the whole archive.
packed=$(pck list tree.pck | awk '$6 ~ /play/ { print $2 - $1 }')
stderr_has "velmora: 1 file, $(awk -v b="$packed" 'BEGIN { printf "%.1f kB", b / 1000 }') -> " \
  "a selective restore counts the entry it restored in the archive"

# An ignored option and a second source are named; the run goes on as before.
runs 0 "an unknown option" -l --list tree.pck
stderr_has "velmora: --list is not an option; ignored (-l lists an archive)" "the option is named, with what was meant"
runs 0 "a second source" -h -o tree photo.jpeg
stderr_has "photo.jpeg: only one source is compressed; words after it change nothing" "the second source is named"

# The progress line in a 40-column terminal: never wider than the terminal, one line after the
# other; -t says it tests.
for columns in 40 100; do
  PTY_COLUMNS=$columns python3 "$here/pty_answer.py" "$work/shown" "" "$velmora" -t tree.pck >/dev/null 2>&1
  check "-t says Testing... ($columns columns)" grep -qa 'Testing\.\.\.' "$work/shown.out"
  widest=$(tr '\r' '\n' <"$work/shown.out" | sed 's/\x1b\[K//g' | grep -a 'Testing' | awk '{ print length }' | sort -n | tail -1)
  check "the progress line fits $columns columns (widest $widest)" test "$widest" -lt "$columns"
done
check "at 100 columns it names the entry and its number" grep -qa '3/3 ' "$work/shown.out"
# At 80 columns the bar gives up cells before the current name loses its start, and a name of
# wide characters never makes the line wrap.
mkdir -p "deep/a long folder/日本語" && cd deep
cp "$corpus/alice29.txt" "a long folder/日本語/the last file.txt"
run -h "a long folder" && cd "$work/e"
PTY_COLUMNS=80 python3 "$here/pty_answer.py" "$work/shown" "" "$velmora" -t "deep/a long folder.pck" >/dev/null 2>&1
check "at 80 columns the whole name is shown" grep -qaF '1/1 a long folder/日本語/the last file.txt' "$work/shown.out"
widest=$(tr '\r' '\n' <"$work/shown.out" | sed 's/\x1b\[K//g' | grep -a 'Testing' |
  python3 -c 'import sys, unicodedata
print(max(sum(2 if unicodedata.east_asian_width(c) in "WF" else 1 for c in l.rstrip("\n")) for l in sys.stdin))')
check "wide characters count twice: the line fits 80 columns (widest $widest)" test "$widest" -lt 80

finish
