# The overwrite questions, answered on a pseudo-terminal: the question for an existing output
# file, and the per-file questions of a restore with "Overwrite all files?" after the third Yes.
source "$(dirname "$0")/common.bash"

asked_count() { wc -l <"$work/asked" | tr -d ' '; }

mkdir -p "$work/c" && cd "$work/c"
cp "$corpus/alice29.txt" book.txt
printf 'older archive\n' >book.pck
cp book.pck "$work/old"

# No keeps the existing compressed file and gives 2.
ask n -h book.txt
expect_rc 2 "answer No to the output question"
check "one question asked" [ "$(asked_count)" = 1 ]
check "the output question names the file" grep -qF 'File "book.pck" already exist. Overwrite?' "$work/asked"
same_file "$work/old" book.pck "No keeps the older archive"
no_temporaries . "answer No"

# Yes replaces it, here with the progress window shown on the terminal.
ask y book.txt
expect_rc 0 "answer Yes to the output question"
check "the replaced archive is valid" pck check book.pck
check "the replaced archive is not the old one" test "$(stat -c %s book.pck)" != "$(stat -c %s "$work/old")"

# -o replaces it without a question.
cp "$work/old" book.pck
ask "" -h -o book.txt
expect_rc 0 "-o"
check "-o asks nothing" [ "$(asked_count)" = 0 ]
check "-o replaced the archive" pck check book.pck

# --- restore: five files that all exist already ---
mkdir -p "$work/r/src/set" && cd "$work/r/src"
for i in 1 2 3 4 5; do
  head -c $((i * 1000)) "$corpus/plrabn12.txt" >"set/f$i.txt"
  touch -d "2022-01-0$i 10:00:00 UTC" "set/f$i.txt"
done
runs 0 "compress the set" -h -o set
mkdir -p "$work/r/dst/set" && cd "$work/r/dst"
mv "$work/r/src/set.pck" .
existing() {
  for i in 1 2 3 4 5; do
    printf 'local copy %d\n' "$i" >"set/f$i.txt"
    touch -d '2019-05-05 05:05:05 UTC' "set/f$i.txt"
  done
  cp -p "set/f1.txt" "$work/local1"
}
# No, then Yes three times, then Yes to "Overwrite all files?": the fifth file is not asked about.
# The listing order decides which file comes first; the log tells which one was kept.
existing
ask nyyyy -h set.pck
expect_rc 0 "restore with answers No, Yes, Yes, Yes, Yes-to-all"
check "four file questions and one for all files" [ "$(asked_count)" = 5 ]
check "the fifth question is Overwrite all files?" [ "$(sed -n 5p "$work/asked")" = "Overwrite all files?" ]
kept="$(sed -n 1p "$work/asked" | sed 's/.*"set\/\(f[0-9]\.txt\)".*/\1/')"
check "the first question names a file of the set ($kept)" test -n "$kept" -a -f "set/$kept"
for i in 1 2 3 4 5; do
  if [ "f$i.txt" = "$kept" ]; then
    check "f$i.txt kept" [ "$(cat "set/f$i.txt")" = "local copy $i" ]
    same_time "$work/local1" "set/f$i.txt" "the kept f$i.txt keeps its own time"
  else
    same_file "$work/r/src/set/f$i.txt" "set/f$i.txt" "f$i.txt replaced"
    same_time "$work/r/src/set/f$i.txt" "set/f$i.txt" "f$i.txt has its stored time"
  fi
done

# Answering No to "Overwrite all files?" keeps the questions coming.
existing
ask yyynnn -h set.pck
expect_rc 0 "restore with answers Yes, Yes, Yes, No-to-all, No, No"
check "questions go on after No to all files" [ "$(asked_count)" = 6 ]
check "the fourth question is Overwrite all files?" [ "$(sed -n 4p "$work/asked")" = "Overwrite all files?" ]
check "the last two questions are about files" [ "$(sed -n '5,6p' "$work/asked" | grep -c 'already exist')" = 2 ]

finish
