# What neither a race nor a signal may do to a restore, and what a folder may hold without
# sinking its compression: a folder swapped for a link during the restore, partial files,
# unreadable and unnamable files, files that say they are empty, links back up the tree. (Entries
# that cannot be created, long names and lone FIFOs are rows of cases.txt.)
source "$(dirname "$0")/common.bash"

outside="$work/outside"
mkdir -p "$outside"
nothing_outside() {  # nothing_outside "description"
  check "$1: nothing was written outside" test -z "$(find "$outside" -mindepth 1)"
}

# --- a folder swapped for a link while the restore runs: a fresh archive and loop per try ---
mkdir -p "$work/race/d/sub" && cd "$work/race"
head -c 20000000 /dev/urandom >d/big.bin
for i in $(seq 1 1500); do echo "$i" >"d/f$i"; echo "$i" >"d/sub/g$i"; done
runs 0 "compress the raced tree" -h d
mv d "$work/race-tree"
swaps=0
for try in 1 2 3; do
  rm -rf d link
  ln -s ../outside link
  # The loop is already swapping when the restore starts, however fast the restore is.
  swaps=$((swaps + $(VELMORA_THREADS=2 python3 "$here/swap_loop.py" d link env -u DISPLAY timeout 60 "$velmora" -h -o d.pck \
    2>"$work/stderr")))
done
nothing_outside "three raced restores ($swaps swaps)"
check "the races swapped the folder" [ "$swaps" -gt 0 ]
no_temporaries "$work/race" "raced restores"
rm -rf d link
runs 0 "the same archive restores when nothing races it" -h d.pck
check "and restores the tree" diff -r "$work/race-tree" d

# --- a cancel or a killed run leaves nothing under the entry's name ---
mkdir -p "$work/cancel" && cd "$work/cancel"
head -c 60000000 /dev/urandom >big.bin
run -h -s big.bin
rm big.bin
for how in INT KILL; do
  what=$(VELMORA_THREADS=1 env -u DISPLAY python3 "$here/signal_when.py" 2000000 "$how" "$velmora" -h big.pck \
    2>"$work/stderr")
  rc=$?
  if [ "$what" = sent ]; then
    check "SIG$how during a restore: nothing under the entry's name" test ! -e big.bin
    if [ "$how" = INT ]; then
      expect_rc 4 "SIGINT during a restore"
      no_temporaries . "SIGINT during a restore"
    fi
  else
    echo "note: the restore ended before SIG$how; case not judged"
  fi
  rm -f big.bin
done
runs 0 "the next run restores" -h big.pck
no_temporaries . "a killed restore"

# --- a full disk during a restore: nothing of the entry is left ---
head -c 700000 /dev/urandom >"$work/noise.bin"
(cd "$work" && run -h -s noise.bin)
if on_full_disk "cp '$work/noise.pck' ." -h noise.pck; then
  expect_rc 4 "a restore onto a full disk"
  check "a full disk leaves nothing but the archive" [ "$(ls -A "$work/disk-after")" = noise.pck ]
else
  echo "note: no small tmpfs can be mounted here; the full-disk restore is not run"
fi

# --- what a folder may hold: it is left out and named, the rest is kept ---
mkdir -p "$work/odd/tree" && cd "$work/odd"
printf 'fine' >tree/ok.txt
printf 'x' >tree/unreadable && chmod 000 tree/unreadable
mkfifo tree/fifo
python3 -c 'import socket, sys; socket.socket(socket.AF_UNIX).bind(sys.argv[1])' tree/socket
for name in '中文' '😀' 'café' 'ü' $'bad\xff' 'what?' 'star*' 'back\slash' 'colon:'; do printf 'x' >"tree/$name"; done
ln -s /proc/version tree/version
mkdir -p tree/loop && ln -s .. tree/loop/up && ln -s ../.. tree/loop/above
chmod -R o+rwX "$work/odd" && chmod 000 tree/unreadable
as_nobody -h tree
expect_rc 4 "a folder with files that cannot be stored"
[ "$can_drop" = 1 ] || [ "$(id -u)" != 0 ] && stderr_has 'tree/unreadable: Permission denied; left out' "the unreadable file"
stderr_has 'tree/fifo: not a regular file (a device, a pipe or a socket); left out' "the FIFO"
stderr_has 'tree/socket: not a regular file' "the socket"
check "every name Windows cannot hold is named" [ "$(grep -c 'cannot hold; left out' "$work/stderr")" = 3 ]
stderr_has 'tree/bad\xFF: the name is not valid UTF-8' "a name that is not UTF-8 shows its bytes"
stderr_has 'tree/back\x5Cslash: the name is not valid UTF-8 or holds a backslash' "a name with a backslash"
check "names of every script are stored" \
  test "$(pck list tree.pck | awk '{print $6}' | grep -c -e '中文' -e '😀' -e 'café' -e 'ü')" = 4
stderr_has 'tree/loop/up: a folder link that leads back into the tree or above it; not walked' "a link to the top"
stderr_has 'tree/loop/above: a folder link that leads back' "a link above the top"
run -l tree.pck
check "-l shows them exactly" test "$(grep -c -e 'tree/中文$' -e 'tree/😀$' -e 'tree/café$' "$work/stdout")" = 3
mkdir back && mv tree.pck back/ && cd back
runs 0 "the archive of the rest restores" -h tree.pck
check "it holds the readable file" test "$(cat tree/ok.txt)" = fine
check "a file that says it is empty is stored whole" cmp /proc/version tree/version
check "nothing else" [ "$(find tree -type f | LC_ALL=C sort | tr '\n' ' ')" = "tree/café tree/ok.txt tree/version tree/ü tree/中文 tree/😀 " ]
finish
