# Nothing a user owns is replaced without a Yes or -o, whether the run can read it or not; what is
# not a regular file is never replaced; the check of an entry cannot be switched off by its
# reserved byte; an empty file's entry is checked; names Windows takes for devices are neither
# stored nor restored.
source "$(dirname "$0")/common.bash"

# --- existing files this run cannot read are still asked about (answered No: nobody can) ---
if [ "$can_drop" = 1 ]; then
  mkdir -p "$work/unreadable" && cd "$work/unreadable"
  printf 'archived' >a.txt
  run -h a.txt
  printf 'mine' >a.txt && printf 'old archive' >b.pck && printf 'new' >b.txt
  chmod 200 a.txt b.pck
  chown -R 65534:65534 .
  as_nobody -h a.pck
  expect_rc 0 "restore over a file the run cannot read"
  stderr_has "1 existing file was kept" "the unreadable file is counted as kept"
  check "the unreadable file keeps its bytes" test "$(cat a.txt)" = mine
  as_nobody -h b.txt
  expect_rc 2 "compress over an archive the run cannot read"
  stderr_has "b.pck exists and was kept; -o replaces it" "the kept archive is named"
  check "the unreadable archive keeps its bytes" test "$(cat b.pck)" = 'old archive'
else
  echo "note: not root or setpriv missing; the unreadable-file cases are not run"
fi

# --- a kept archive is named, and a pipe is never replaced, not even with -o ---
mkdir -p "$work/kept" && cd "$work/kept"
printf 'x' >k.txt && printf 'old' >k.pck
runs 2 "an existing archive, nobody to answer" -h k.txt
stderr_has "k.pck exists and was kept; -o replaces it" "the kept archive is named"
rm k.pck && mkfifo k.pck
runs 2 "a pipe where the archive goes" -h -o k.txt
stderr_has "a pipe, device or socket has the compressed file's name" "the pipe is named"
check "the pipe is still there" test -p k.pck
rm k.pck && run -h k.txt && mv k.pck k2.pck && rm k.txt && mkfifo k.txt
runs 4 "a pipe where an entry goes" -h -o k2.pck
stderr_has "k.txt: a pipe, device or socket of that name is in the way; skipped" "the entry is named"
check "the pipe is still there" test -p k.txt

# --- the reserved byte cannot switch the check off ---
mkdir -p "$work/mark" && cd "$work/mark"
cp "$corpus/alice29.txt" book.txt
run -h -s book.txt  # stored: a changed payload byte still decodes, only the check can tell
units=8  # book.txt
mark=$((8 + 2 * (units + 1)))
payload=$((mark + 9 + 4))
cp book.pck good.pck
for value in 0 3; do
  cp good.pck book.pck
  pck patch book.pck "$mark" B "$value"
  pck flip book.pck $((payload + 100))
  runs 4 "-t with the reserved byte $value and a changed payload" -t book.pck
  runs 4 "restore with the reserved byte $value and a changed payload" -h -d=out$value book.pck
  check "reserved $value: none of its bytes under the name" test ! -s "out$value/book.txt"
  stderr_has "book.txt: damaged entry" "reserved $value: the damage is reported"
done
stderr_has "its reserved byte is 3, not 0 or 1" "an undefined reserved byte is damage"
cp good.pck book.pck && pck patch book.pck "$mark" B 0
runs 0 "a whole checked entry marked 0 restores" -h -d=zero book.pck
same_file book.txt zero/book.txt "the entry marked 0"

# --- an empty file's entry is checked: its name and time cannot change unnoticed ---
: >e.txt
run -h e.txt
for field in 8 21; do  # the name's first unit, the time's low byte
  cp e.pck changed.pck
  pck flip changed.pck "$field"
  runs 4 "-t of an empty file's entry changed at byte $field" -t changed.pck
done
runs 0 "an empty file restores" -h -d=empty e.pck
check "as an empty file" test -f empty/e.txt -a ! -s empty/e.txt

# --- names Windows takes for a device, or trims, are neither stored nor restored ---
mkdir -p "$work/devices/tree" && cd "$work/devices"
for name in aux.txt com1.log NUL.txt 'end.' 'end ' keep.txt; do printf 'bytes' >"tree/$name"; done
runs 4 "a tree with device names" -h tree
for name in aux.txt com1.log NUL.txt; do
  stderr_has "tree\\$name: Windows takes the name for a device" "$name is left out and named"
done
pck list tree.pck >"$work/entries"
check "only keep.txt is stored" test "$(awk '{print $6}' "$work/entries")" = 'tree\keep.txt'
pck craft dev.pck 'CON=x' 'aux.txt=x' 'd\com1.log=x' 'name.=x' 'name =x' 'ok.txt=fine'
runs 4 "an archive with device names" -h -d=out dev.pck
check "only ok.txt is restored" test "$(cd out && find . -type f)" = ./ok.txt
stderr_has "aux.txt: stored name is absolute, leaves the folder or cannot be restored as it is" "a device name is refused"

finish
