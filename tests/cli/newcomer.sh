# What a new user meets: the usage, a source named from another folder, questions nobody can
# answer, odd sources, an output name taken by a folder, a restore into another folder and an
# archive written into another, --help, --version and the installed program. (The command line's decisions are CommandLineTest's.)
source "$(dirname "$0")/common.bash"

# --- only the program's name: the usage and exit code 3 ---
mkdir -p "$work/elsewhere" "$work/c/my dir" && cd "$work/elsewhere"
runs 3 "no arguments"
stderr_has "== Velmora v1.2 ==" "the usage notice on standard error"

# --- an absolute path with spaces, from another folder: the archive lies next to the source and
# holds the bare name ---
printf 'text' >"$work/c/my dir/my file.txt"
runs 0 "absolute path with spaces" -h "$work/c/my dir/my file.txt"
check "nothing written in the current folder" [ -z "$(ls -A "$work/elsewhere")" ]
check "the entry holds the bare name" \
  [ "$(pck list "$work/c/my dir/my file.pck" | awk '{ $1 = $2 = $3 = $4 = $5 = ""; sub(/^ +/, ""); print }')" = "my file.txt" ]

# --- questions nobody can answer (no display, standard input not a terminal): No, and one line ---
mkdir -p "$work/q/t" && cd "$work/q"
for i in 1 2 3; do echo "new $i" >"t/f$i"; done
run -h t
for i in 1 2 3; do echo "old $i" >"t/f$i"; done
runs 0 "a restore over existing files that nobody can answer" -h t.pck
check "no question is printed" test "$(grep -c Overwrite "$work/stderr")" = 0
stderr_has "velmora: 3 existing files were kept; -o replaces them" "the run says what it kept"
check "the existing files are kept" test "$(cat t/f2)" = "old 2"
run -h -o t.pck
check "-o replaces them" test "$(cat t/f2)" = "new 2"

# --- . and .. name their folders ---
mkdir -p "$work/odd/photos/trip" && cd "$work/odd/photos"
echo a >trip/a.jpg
runs 0 "velmora . inside photos" -h .
check "it makes ../photos.pck" test -f ../photos.pck
check "holding photos\\trip\\a.jpg" [ "$(pck list ../photos.pck | awk '{print $NF}')" = 'photos\trip\a.jpg' ]
cd trip && rm ../../photos.pck
runs 0 "velmora .. inside photos/trip" -h ..
check "it makes photos.pck beside photos" test -f ../../photos.pck
runs 0 "a path ending in /." -h -o ../trip/.
check "it makes trip.pck" test -f ../trip.pck

# --- an output name taken by a folder is refused before any work ---
mkdir -p "$work/out/note.pck" && cd "$work/out"
echo text >note.txt
runs 2 "an output name taken by a folder" -h note.txt
stderr_has "note.pck: a folder has the compressed file's name; nothing was compressed" "it says why, up front"

# --- -d=FOLDER restores elsewhere, with every rule of a restore ---
cd "$work/q"
runs 0 "-d= a folder that does not exist" -h -d=elsewhere/deeper t.pck
check "the entries are restored under it" test "$(cat elsewhere/deeper/t/f3)" = "new 3"
mkdir -p "$work/outside" && ln -s "$work/outside" "$work/q/linked"
pck craft bad.pck 'linked\x=evil' '..\up=evil' 'fine=ok'
runs 4 "-d= with hostile names" -h -d="$work/q" bad.pck
check "nothing was written through the link" test -z "$(ls -A "$work/outside")"
stderr_has "..\\up: stored name is absolute, leaves the folder" "a name leaving the folder is refused"
check "the good entry is restored" test "$(cat "$work/q/fine")" = ok

# --- -d=FOLDER writes an archive elsewhere, with every rule of the compressed output ---
mkdir -p "$work/w/src" && cd "$work/w" && printf 'one' >src/a.txt && printf 'note' >n.txt && printf 'x' >file
runs 0 "-d= for compressing, a folder that does not exist" -h -d=out/sub src
check "the archive is written there, under the name the source gives" test -f out/sub/src.pck
check "and nothing beside the source" test ! -e src.pck
runs 2 "the archive there exists" -h -d=out/sub src
stderr_has "out\sub\src.pck exists and was kept; -o replaces it" "the kept archive is named with its folder"
runs 0 "and it restores" -h -d="$work/w/back" out/sub/src.pck
same_file src/a.txt back/src/a.txt "the archive written elsewhere"
runs 2 "-d= inside the folder it archives" -h -d=src/inner src
stderr_has "the archive would be written inside the folder it archives; refused" "it says why"
check "and makes nothing there" [ "$(ls src)" = a.txt ]
runs 2 "-d= that cannot be made" -h -d=file/x n.txt

# --- --help, --version, the window's range, the installed program ---
runs 0 "--help" --help
for option in -c -uc -t -l -d=FOLDER -o -s -h -w=n '/?' VELMORA_THREADS 'Exit codes' 'default 2097152'; do
  check "--help tells $option" grep -qF -- "$option" "$work/stdout"
done
runs 0 "--version" --version
check "--version prints the version" grep -qx 'Velmora 1.2' "$work/stdout"
runs 3 "a window past 64 MiB" -h -w=67108865 note.txt
stderr_has "(-w takes 1 to 67108864)" "the range is named"
build_dir="$(dirname "$velmora")"
if [ -f "$build_dir/CMakeCache.txt" ]; then
  cmake --install "$build_dir" --prefix "$work/prefix" >/dev/null 2>&1
  check "cmake --install installs the program" test -x "$work/prefix/bin/velmora"
  manual="$work/prefix/share/man/man1/velmora.1"
  check "and its manual" test -f "$manual"
  check "and nothing else" [ "$(find "$work/prefix" -type f | wc -l)" = 2 ]
  if command -v man >/dev/null; then
    MANWIDTH=100 man -l "$manual" >"$work/manual" 2>"$work/manual-errors"
    check "the manual reads without a warning" test ! -s "$work/manual-errors"
    for part in NAME SYNOPSIS OPTIONS 'EXIT STATUS' VELMORA_THREADS -d=FOLDER -w=n; do
      check "the manual tells $part" grep -qF -- "$part" "$work/manual"
    done
  fi
fi
finish
