# The command line of the real program as a shell passes it: the usage text, absolute paths with
# spaces from another folder, the extension and folder decisions. (Options and their values are
# tests/app/CommandLineTest.cpp's.)
source "$(dirname "$0")/common.bash"

mkdir -p "$work/elsewhere" "$work/c/my dir" "$work/c/some folder/inner" "$work/c/фото"
cp "$corpus/alice29.txt" "$work/c/my dir/my file.txt"
cp "$corpus/alice29.txt" "$work/c/x.tar.gz"
echo one >"$work/c/some folder/a.txt"
echo two >"$work/c/some folder/inner/b.txt"
echo три >"$work/c/фото/снимок.txt"
names() { pck list "$1" | awk '{ $1 = $2 = $3 = $4 = $5 = ""; sub(/^ +/, ""); print }'; }

# Only the program's name: the usage notice and exit code 3.
cd "$work/elsewhere"
run
expect_rc 3 "no arguments"
# (The text itself, line by line, is tests/app/CommandLineTest.cpp's.)
stderr_has "== Velmora v1.2 ==" "the usage notice on standard error"
runs 3 "empty base name" -h "$work/c/.profile"
stderr_has "== Velmora v1.2 ==" "empty base name shows the usage"

# An absolute path with spaces, run from another folder: the archive lies next to the source and
# holds the bare name.
runs 0 "absolute path with spaces" -h "$work/c/my dir/my file.txt"
check "my file.pck next to the source" test -f "$work/c/my dir/my file.pck"
check "nothing written in the current folder" [ -z "$(ls -A "$work/elsewhere")" ]
check "entry holds the bare name" [ "$(names "$work/c/my dir/my file.pck")" = "my file.txt" ]

# The last extension is replaced; restoring gives back the stored name.
runs 0 "compress x.tar.gz" -h "$work/c/x.tar.gz"
check "x.tar.pck written" test -f "$work/c/x.tar.pck"
mkdir -p "$work/r1" && mv "$work/c/x.tar.pck" "$work/r1/"
runs 0 "-c on a pck restores" -h -c "$work/r1/x.tar.pck"
same_file "$work/c/x.tar.gz" "$work/r1/x.tar.gz" "x.tar.pck gives back x.tar.gz"

# -uc on a folder (with a trailing slash and a space) compresses it beside itself.
runs 0 "-uc on a folder" -h -uc "$work/c/some folder/"
check "some folder.pck written beside the folder" test -f "$work/c/some folder.pck"
check "entries named below the folder's parent" \
  [ "$(names "$work/c/some folder.pck" | sort | tr '\n' '|')" = 'some folder\a.txt|some folder\inner\b.txt|' ]

# A Cyrillic folder name: the archive is фото.pck, the entries keep the names.
runs 0 "Cyrillic folder" -h "$work/c/фото"
check "фото.pck written" test -f "$work/c/фото.pck"
check "Cyrillic entry name" [ "$(names "$work/c/фото.pck")" = 'фото\снимок.txt' ]

finish
