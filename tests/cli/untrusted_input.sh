# What neither a race, a signal nor a full disk may do to a restore: a folder swapped for a link
# during the restore, partial files left by a cancel or a kill, a restore onto a full disk. (What a
# folder may hold, entries that cannot be created, long names and lone FIFOs are rows of
# cases.txt.)
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

finish
