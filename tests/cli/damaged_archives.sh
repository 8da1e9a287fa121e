# Damaged archives: cut entries, broken chains, over-long blocks (random changed bytes are the
# restore fuzz target's; hostile names are rows of cases.txt). None may crash the program or
# write outside the folder it restores into; damage ends with exit code 4.
source "$(dirname "$0")/common.bash"

mkdir -p "$work/src/d" && cd "$work/src"
head -c 150000 "$corpus/alice29.txt" >d/a.txt
cp "$corpus/kppkn.gtb" d/b.gtb
head -c 70000 "$corpus/html_x_4" >d/c.txt
runs 0 "compress d" -h -o -w=65536 d
archive="$work/src/d.pck"
pck list "$archive" >"$work/entries"
check "three entries" [ "$(wc -l <"$work/entries")" = 3 ]
# Entry offsets and names in listing order.
mapfile -t starts < <(awk '{print $1}' "$work/entries")
mapfile -t ends < <(awk '{print $2}' "$work/entries")
mapfile -t names < <(awk '{print $6}' "$work/entries" | sed 's|\\|/|g')

# Restores ARCHIVE-FILE in a fresh folder $work/t/in; sets rc; a sibling marker file shows
# anything written beside the folder.
restore() {
  rm -rf "$work/t" && mkdir -p "$work/t/in" && : >"$work/t/marker"
  cp "$1" "$work/t/in/x.pck"
  (cd "$work/t/in" && run -h -o x.pck && echo "$rc" >"$work/t/rc")
  rc=$(cat "$work/t/rc" 2>/dev/null || echo 99)
}
nothing_outside() {  # nothing_outside "description"
  checks=$((checks + 1))
  local extra
  extra="$(cd "$work/t" && find . -mindepth 1 -maxdepth 1 ! -name in ! -name marker ! -name rc)"
  [ -z "$extra" ] || fail "$1: written outside the target folder: $extra"
}
restored_same() {  # restored_same INDEX "description"
  same_file "$work/src/${names[$1]}" "$work/t/in/${names[$1]}" "$2"
}

# Cut inside the second entry: the first comes back, the second holds a prefix, the third is absent.
# (The chain's rules, cut by cut and offset by offset, are tests/app/ArchiveFormatTest.cpp's.)
for cut in $((ends[1] - 1)); do
  head -c "$cut" "$archive" >"$work/cut.pck"
  restore "$work/cut.pck"
  expect_rc 4 "cut at $cut"
  stderr_has "x.pck" "cut at $cut: the archive is named"
  restored_same 0 "cut at $cut: first file"
  check "cut at $cut: third file absent" [ ! -e "$work/t/in/${names[2]}" ]
  if [ -e "$work/t/in/${names[1]}" ]; then
    checks=$((checks + 1))
    n=$(stat -c %s "$work/t/in/${names[1]}")
    cmp -s -n "$n" "$work/src/${names[1]}" "$work/t/in/${names[1]}" || fail "cut at $cut: partial file is not a prefix"
  fi
  nothing_outside "cut at $cut"
done

# A backward or in-header nextEntryOffset in the second entry: its blocks still say where it ends,
# so every entry comes back and the eight bytes are reported.
for value in $((starts[1] + 12)); do
  cp "$archive" "$work/chain.pck"
  pck patch "$work/chain.pck" "${starts[1]}" Q "$value"
  restore "$work/chain.pck"
  expect_rc 4 "second nextEntryOffset $value"
  for i in 0 1 2; do restored_same $i "offset $value: file $i"; done
  stderr_has "bytes ${starts[1]} to $((starts[1] + 7)) of the archive are damaged; 2 entries after them recovered" \
    "offset $value: the damaged bytes are reported"
  nothing_outside "offset $value"
done

# A block length over the limit in the second entry's first block: that entry ends, and since no
# block of it proved its name, no file is left under it; the third is still restored.
first_block=$((starts[1] + 17 + 2 * (${#names[1]} + 1)))
for value in 0xFFFFFFFF; do
  cp "$archive" "$work/long.pck"
  pck patch "$work/long.pck" "$first_block" I "$value"
  restore "$work/long.pck"
  expect_rc 4 "block length $value"
  restored_same 0 "block length $value: first file"
  check "block length $value: second file not made" [ ! -e "$work/t/in/${names[1]}" ]
  restored_same 2 "block length $value: third file still restored"
done

finish
