# Compress and restore real data with the built program: a folder tree with nested and empty
# folders, hidden, read-only, Cyrillic and 0-byte files, every corpus file and files of exactly k
# blocks and k blocks + 1, and folder links. (The worked examples' bytes are rows of cases.txt.)
source "$(dirname "$0")/common.bash"

# --- a folder tree ---
tree="$work/tree/src/top"
mkdir -p "$tree/sub/deeper" "$tree/empty" "$tree/only/inner" "$tree/Папка"
cp "$corpus/alice29.txt" "$tree/sub/deeper/alice.txt"
cp "$corpus/fireworks.jpeg" "$tree/only/inner/fireworks.jpeg"
cp "$corpus/kppkn.gtb" "$tree/Папка/Файл.gtb"
mkdir "$tree/corpus" && cp "$corpus"/* "$tree/corpus/"  # every kind of real data
printf 'hidden\n' >"$tree/.hidden"
printf 'read only\n' >"$tree/sub/readonly.txt"
chmod 444 "$tree/sub/readonly.txt"
: >"$tree/zero.bin"
head -c $((3 * 65536)) "$corpus/html_x_4" >"$tree/k.bin"
head -c $((3 * 65536 + 1)) "$corpus/html_x_4" >"$tree/k1.bin"
i=0
while IFS= read -r -d '' f; do
  i=$((i + 1))
  touch -d "2020-01-01 00:00:00 UTC + $i hours" "$f"
done < <(find "$tree" -type f -print0)
touch -d '2024-06-30 12:34:56.7654321 UTC' "$tree/sub/deeper/alice.txt"  # the newest

cd "$work/tree/src"
runs 0 "compress the tree" -h -o -w=65536 top/
no_temporaries "$work/tree" "tree compression"
check "the chain is valid to the end" pck check top.pck
pck list top.pck >"$work/entries"
check "one entry per file" [ "$(wc -l <"$work/entries")" = "$(find "$tree" -type f | wc -l)" ]
check "alice.txt (152,089 bytes) packs below 80,000 in blocks of 64 KiB" \
  [ "$(awk '$6 == "top\\sub\\deeper\\alice.txt" { print ($2 - $1 < 80000) }' "$work/entries")" = 1 ]
check "every name begins with top\\" [ "$(grep -vc ' top\\' "$work/entries")" = 0 ]
check "no entry for a folder" [ "$(grep -c 'empty' "$work/entries")" = 0 ]
check "k.bin is 3 blocks" grep -q ' 3 [0-9]* top\\k.bin$' "$work/entries"
check "k1.bin is 4 blocks" grep -q ' 4 [0-9]* top\\k1.bin$' "$work/entries"
check "zero.bin has one empty stored block" grep -q ' 1 1 top\\zero.bin$' "$work/entries"
check "Cyrillic name stored" grep -q 'top\\Папка\\Файл.gtb$' "$work/entries"
same_time top/sub/deeper/alice.txt top.pck "the archive carries the newest time"

mkdir -p "$work/tree/restored" && mv top.pck "$work/tree/restored/" && cd "$work/tree/restored"
runs 0 "restore the tree" -h -o -w=65536 top.pck
check "the trees hold the same files" diff -r "$tree" top -x empty
check "no empty folder recreated" [ ! -e top/empty ]
while IFS= read -r -d '' f; do
  rel="${f#"$tree"/}"
  same_file "$f" "top/$rel" "$rel"
  same_time "$f" "top/$rel" "$rel keeps its time"
done < <(find "$tree" -type f -print0)
check "read-only file restored as an ordinary file" [ "$(( $(stat -c %a top/sub/readonly.txt) & 0200 ))" != 0 ]

# Folder links: one back to the top folder and one to its parent's child are not walked again;
# a link to a folder outside the tree is walked like a folder.
mkdir -p "$work/links/top/sub" "$work/links/outside" && cd "$work/links"
printf a >top/a.txt
printf b >top/sub/b.txt
printf c >outside/c.txt
ln -s .. top/sub/up
ln -s ../top top/self
ln -s ../outside top/ext
runs 0 "compress a tree with folder links" -h -o top
pck list top.pck | awk '{print $6}' | sort >"$work/linked"
check "each file once, the outside folder through its link ($(tr '\n' ' ' <"$work/linked"))" \
  [ "$(tr '\n' ' ' <"$work/linked")" = 'top\a.txt top\ext\c.txt top\sub\b.txt ' ]

finish
