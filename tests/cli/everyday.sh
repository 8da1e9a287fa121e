# What people expect of an archiver every day, on a terminal: a progress line that fits a narrow
# one and names the entry. (The summary, the words after an archive and the hints for mistyped
# options are rows of cases.txt.)
source "$(dirname "$0")/common.bash"

mkdir -p "$work/e/tree/docs/a" "$work/e/tree/docs/b" && cd "$work/e"
cp "$corpus/alice29.txt" tree/docs/a/alice.txt
cp "$corpus/asyoulik.txt" tree/docs/b/play.TXT
cp "$corpus/fireworks.jpeg" tree/photo.jpeg
runs 0 "compress the tree" -h tree

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
