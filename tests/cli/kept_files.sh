# Nothing a user owns is replaced without a Yes or -o, even when the run cannot read it; the check
# of an entry cannot be switched off by its reserved byte; an empty file's entry is checked. (Kept
# archives, pipes and names Windows takes for devices are rows of cases.txt.)
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

finish
