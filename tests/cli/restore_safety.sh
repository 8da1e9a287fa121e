# What a restore must never do, and how a run talks to its user, where it takes more than one
# command line (those are rows of cases.txt): no writing through a link planted during the run,
# no raw control bytes from stored names on the terminal, no temporaries left by killed runs and
# no file deleted for the shape of its name, Ctrl-C at a question cancels, report lines on lines
# of their own, a display that cannot be opened is said once.
source "$(dirname "$0")/common.bash"

# --- a link that appears between two entries of one archive (while the first one's question is up) ---
outside="$work/outside"
mkdir -p "$outside" "$work/late" && cd "$work/late"
pck craft late.pck 'a.txt=new' 'later\evil.txt=evil'
printf 'old' >a.txt
PTY_BEFORE_ANSWER="ln -s '$outside' '$work/late/later'" ask y late.pck
expect_rc 4 "a link planted during the run"
check "a link planted during the run: nothing was written outside" test -z "$(ls -A "$outside")"
check "the first entry was restored" test "$(cat a.txt)" = new

# --- names with control bytes are escaped on standard error and in the question ---
mkdir -p "$work/ctl" && cd "$work/ctl"
pck craft ctl.pck $'\\abs\e]0;owned\a\x7f.txt=x' $'bell\a\e[2J.txt=new'
printf 'old' >$'bell\a\e[2J.txt'
ask n ctl.pck
# (The terminal's own clearing of the progress line, CR ESC [K, is the only escape allowed.)
check "no raw escape byte reaches the terminal's report lines" \
  bash -c "! sed 's/\r\x1b\[K//g' '$work/asked.out' | grep -a 'velmora:' | grep -q $'\e'"
check "the skipped name is shown escaped" grep -qaF 'abs\x1B]0;owned\x07\x7F.txt' "$work/asked.out"
check "the question shows the name escaped" grep -qF 'bell\x07\x1B[2J.txt' "$work/asked"

# --- a killed run leaves no temporary; files of any name that the run did not make stay ---
mkdir -p "$work/kill" && cd "$work/kill"
head -c 30000000 /dev/urandom >big.bin
printf 'mine' >big.pck.part
printf 'mine too' >big.pck.part1
printf 'and mine' >.velmora-abc123
env -u DISPLAY "$velmora" -h -w=65536 big.bin </dev/null >/dev/null 2>&1 &
victim=$!
wait_written "$victim" 2000000
kill -9 "$victim"; wait "$victim" 2>/dev/null
check "the killed run left nothing" test "$(ls -A | tr '\n' ' ')" = ".velmora-abc123 big.bin big.pck.part big.pck.part1 "
head -c 1000 "$corpus/alice29.txt" >big.bin
runs 0 "the run after the killed one" -h big.bin
check "files named like temporaries are the user's own" \
  test "$(cat big.pck.part big.pck.part1 .velmora-abc123)" = "minemine tooand mine"
mkdir -p sub && pck craft sub.pck 'sub\.velmora-abc123=archived' 'sub\b.txt=b'
printf 'mine' >sub/.velmora-zzz999
runs 0 "a restore among files named like temporaries" -h -o sub.pck
check "an entry of such a name is restored, and others stay" \
  test "$(cat sub/.velmora-abc123 sub/.velmora-zzz999 sub/b.txt)" = "archivedmineb"

# --- Ctrl-C at a restore question cancels the run ---
mkdir -p "$work/intr/src" && cd "$work/intr/src"
for i in 1 2 3; do printf 'file %s' "$i" >"f$i.txt"; done
cd .. && run -h src
ask c src.pck
expect_rc 4 "Ctrl-C at the first question"
check "no second question" test "$(wc -l <"$work/asked")" = 1
check "the cancel is reported on a line of its own" grep -qa $'\nvelmora: .*cancelled' "$work/asked.out"

# --- the terminal progress line only grows, and report lines start on their own line ---
mkdir -p "$work/bar/tree/sub" && cd "$work/bar"
for i in $(seq 1 40); do head -c $((i * 3000)) "$corpus/plrabn12.txt" >"tree/f$i.txt"; done
cp "$corpus/alice29.txt" tree/sub/last.txt
ask "" -w=4096 tree
expect_rc 0 "compress a folder on a terminal"
percents() { grep -ao '[0-9]\+%' "$1" | tr -d '%'; }
check "the bar never goes back" bash -c "percents() { grep -ao '[0-9]\\+%' \"\$1\" | tr -d '%'; }; percents '$work/asked.out' | sort -n -c"
check "the bar ends at 100%" test "$(percents "$work/asked.out" | tail -1)" = 100
mkdir -p out && mv tree.pck out/ && cd out
ask "" tree.pck
expect_rc 0 "restore a folder on a terminal"
check "a restore ends at 100%" test "$(percents "$work/asked.out" | tail -1)" = 100
chmod 000 "$work/bar/tree/sub"
cd "$work/bar" && rm -f tree.pck
if [ "$(id -u)" = 0 ]; then
  chmod 777 "$work/bar" && chmod -R o+rX tree 2>/dev/null; chmod 000 tree/sub
  python3 "$here/pty_answer.py" "$work/asked" "" "${nobody[@]}" "$velmora_for_anyone" tree \
    >/dev/null 2>&1
else
  ask "" tree
fi
check "a skipped folder's line starts on a line of its own" grep -qa $'\nvelmora: tree\\\\sub' "$work/asked.out"
chmod 755 "$work/bar/tree/sub"

# --- a display that cannot be opened is said once ---
cd "$work"
printf 'x' >"$work/d.txt"
DISPLAY=:99999 timeout 60 "$velmora" -o "$work/d.txt" </dev/null >/dev/null 2>"$work/stderr"
rc=$?
expect_rc 0 "no display"
check "the display that cannot be opened is said once" test "$(grep -c 'display :99999 cannot be opened' "$work/stderr")" = 1

finish
