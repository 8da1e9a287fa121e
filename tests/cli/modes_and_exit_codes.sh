# Store mode and the exit codes 1, 2, 3 and 4 of the real program. (What a restore accepts of a
# window is shown at the jobs' level, in tests/app/JobsTest.cpp.)
source "$(dirname "$0")/common.bash"

mkdir -p "$work/m" && cd "$work/m"
cp "$corpus/alice29.txt" alice.txt

# -s stores every block, and the stored archive restores.
runs 0 "-s compress" -h -o -s -w=65536 alice.txt
pck list alice.pck >"$work/list"
read -r _ _ _ blocks stored _ <"$work/list"
check "-s: all $blocks blocks stored ($stored)" test "$blocks" = 3 -a "$stored" = 3
check "-s: size is the data plus 20 bytes a block (length, stored header, trailer)" \
  [ "$(stat -c %s alice.pck)" = $((152089 + 3 * 20 + 17 + 2 * 10)) ]
mkdir s && mv alice.pck s/ && cd s
runs 0 "restore the stored archive" -h alice.pck
same_file ../alice.txt alice.txt "-s round trip"
cd ..

# Exit 3: a window of 0 ("-w="); the usage cases are in command_line.sh.
runs 3 "-w= gives window 0" -h -w= alice.txt
check "-w=: no archive left" [ ! -e alice.pck ]
no_temporaries . "-w="

# Exit 2: the output cannot be created (a folder nobody may write to, run as an unprivileged user).
mkdir -p "$work/locked" && cp alice.txt "$work/locked/" && chmod 555 "$work/locked"
if [ "$can_drop" = 1 ] || [ "$(id -u)" != 0 ]; then
  chmod 755 "$work" && chmod o+rx "$work/locked"
  as_nobody -h -o "$work/locked/alice.txt"
  expect_rc 2 "output folder not writable"
  check "no archive in the locked folder" [ ! -e "$work/locked/alice.pck" ]
fi

# Exit 2: the output name designates the source itself (here a link to it), which stays intact.
cp alice.txt self.dat
ln -s self.dat self.pck
runs 2 "output is the source" -h -o self.dat
same_file alice.txt self.dat "the source behind the output name is intact"
ln -f self.dat hard.dat && rm -f hard.pck && ln hard.dat hard.pck
runs 2 "output is a hard link to the source" -h -o hard.dat
same_file alice.txt hard.dat "hard-linked source intact"

# Exit 4: a file source that cannot be opened (no read permission for an ordinary user).
if [ "$can_drop" = 1 ] || [ "$(id -u)" != 0 ]; then
  mkdir -p "$work/noread" && chmod 777 "$work/noread"
  cp alice.txt "$work/noread/secret.txt" && chmod 000 "$work/noread/secret.txt"
  as_nobody -h -o "$work/noread/secret.txt"
  expect_rc 4 "unreadable source file"
  stderr_has "secret.txt" "unreadable source named"
  check "no archive for the unreadable file" [ ! -e "$work/noread/secret.pck" ]
  no_temporaries "$work/noread" "unreadable source"
fi

# Exit 4: restoring an archive that does not exist, one of 0 bytes (it holds nothing), a file that
# is no archive at all, and one whose chain breaks, each with a line a person can act on.
runs 4 "missing archive" -h missing.pck
stderr_has "missing.pck" "missing archive named"
: >empty.pck
runs 4 "a 0-byte archive" -h empty.pck
stderr_has "empty.pck: the archive is empty: it holds nothing" "a 0-byte archive says it holds nothing"
printf 'just some text, renamed\n' >junk.pck
runs 4 "junk renamed .pck" -h junk.pck
stderr_has "junk.pck: not a Velmora archive" "junk is not an archive"
runs 4 "-uc on a text file" -h -uc alice.txt
stderr_has "alice.txt: not a Velmora archive" "-uc on a text file says so"

# A folder whose tree holds no file: nothing is compressed, no archive remains, exit 4.
mkdir -p hollow/a/b
runs 4 "folder without files" -h -o hollow
check "no archive for the hollow folder" [ ! -e hollow.pck ]
no_temporaries . "hollow folder"

finish
