# Runs that fail part-way: a full disk, a cancel by signal in the middle of a large file. Each must
# end with exit code 4, leave neither an archive nor a temporary file behind, and keep an older
# archive of the same name exactly as it was. (What cannot be read inside a folder is a row of
# cases.txt.)
source "$(dirname "$0")/common.bash"

old_archive() {  # old_archive PATH: a recognisable older archive in place of the output
  printf 'older archive, must survive\n' >"$1"
  cp "$1" "$work/old-copy"
}
old_kept() {  # old_kept PATH "description"
  same_file "$work/old-copy" "$1" "$2: the older archive is unchanged"
}

# --- a full disk: a 1 MiB tmpfs holding the source, the older archive and the output ---
head -c 700000 /dev/urandom >"$work/noise"
if on_full_disk "cp '$work/noise' noise.bin && printf 'older archive, must survive\n' >noise.pck" -h -o noise.bin; then
  expect_rc 4 "full disk"
  stderr_has "velmora: noise.pck: " "full disk reported with the archive's name"
  printf 'older archive, must survive\n' >"$work/old-copy" && old_kept "$work/disk-after/noise.pck" "full disk"
  check "full disk: nothing left but the source and the older archive" \
    [ "$(ls -A "$work/disk-after" | tr '\n' ' ')" = "noise.bin noise.pck " ]
else
  echo "note: no small tmpfs can be mounted here (needs root and mount rights); the full-disk case is not run"
fi

# --- a cancel by signal in the middle of a large file, with blocks in flight on three workers ---
mkdir -p "$work/sig" && cd "$work/sig"
head -c $((24 * 1048576)) /dev/urandom >large.bin
for signal in INT TERM HUP; do
  old_archive large.pck
  env -u DISPLAY VELMORA_THREADS=3 "$velmora" -h -o large.bin </dev/null >/dev/null 2>"$work/stderr" &
  pid=$!
  wait_written "$pid" 2200000  # the first blocks are in the temporary
  if kill -0 "$pid" 2>/dev/null; then
    kill -"$signal" "$pid"
    wait "$pid"
    rc=$?
    expect_rc 4 "SIG$signal in the middle of a large file"
    stderr_has "cancelled" "SIG$signal reported as a cancel"
    old_kept large.pck "SIG$signal"
    no_temporaries "$work/sig" "SIG$signal"
  else
    wait "$pid"
    echo "note: compression ended before SIG$signal could be sent; case not judged"
  fi
done

finish
