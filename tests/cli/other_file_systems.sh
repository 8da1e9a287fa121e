# What must hold on every file system and under every signal: the largest window restores without
# -w; two restores into one folder at once write each name once (ext4 or whatever holds the work
# folder, tmpfs, exFAT and FAT through FUSE); the archive is never replaced by an entry of another
# spelling; a read that blocks is cancelled by SIGINT or SIGTERM; a file system that loses a
# write is found out before the run says it succeeded. The FUSE cases need root, /dev/fuse and
# Debian's fusefat, exfat-fuse and python3-fusepy, and are skipped with one line without them.
source "$(dirname "$0")/common.bash"

mounts=()
loop=""
unmount_all() {
  for m in "${mounts[@]}"; do fusermount -u "$m" 2>/dev/null || umount -l "$m" 2>/dev/null; done
  [ -n "$loop" ] && losetup -d "$loop" 2>/dev/null
  cleanup
}
trap unmount_all EXIT
mounted() { grep -q " $1 " /proc/mounts; }
until_mounted() { for _ in $(seq 1 100); do mounted "$1" && return 0; sleep 0.1; done; return 1; }
written() {  # the files a run's summary line says it wrote, 0 without one
  local n
  n=$(sed -n 's/^velmora: \([0-9,]*\) files\{0,1\}, .*/\1/p' "$1" | tr -d ,)
  echo "${n:-0}"
}

# The largest window: a stored chunk of 64 MiB is 16 bytes longer as a payload and still needs
# only that window.
mkdir -p "$work/largest" && cd "$work/largest"
head -c 67108864 /dev/urandom >big.bin
runs 0 "stored blocks of the largest window" -h -s -w=67108864 big.bin
runs 0 "-t of the largest window without -w" -t big.pck
runs 0 "a restore of the largest window without -w" -h -d=out big.pck
same_file big.bin out/big.bin "the largest window restores exactly"
cd "$work" && rm -rf "$work/largest"

fuse_ok=0
if [ "$(id -u)" = 0 ] && [ -e /dev/fuse ] && command -v fusefat >/dev/null && command -v mount.exfat-fuse >/dev/null &&
  /usr/bin/python3 -c 'import fusepy' 2>/dev/null; then
  fuse_ok=1
else
  echo "skip: the FUSE cases (they need root, /dev/fuse, fusefat, exfat-fuse and python3-fusepy)"
fi

# Two restores of the same names into one folder at once: every name is written once, by one of
# them; the other keeps it. Never check-then-rename, on any file system.
race() {  # race FOLDER LABEL COUNT
  local folder="$1" label="$2" count="$3"
  mkdir -p "$work/race-src/d" && rm -f "$work/race-src/d"/* "$work/race-src/d.pck"
  for i in $(seq 1 "$count"); do printf '%s' "$i" >"$work/race-src/d/f$i.txt"; done
  (cd "$work/race-src" && run -h d)
  mkdir -p "$folder/race" && cp "$work/race-src/d.pck" "$folder/race/" && cd "$folder/race"
  env -u DISPLAY "$velmora" -h d.pck </dev/null >/dev/null 2>"$work/race1" &
  env -u DISPLAY "$velmora" -h d.pck </dev/null >/dev/null 2>"$work/race2"
  wait
  local total=$(($(written "$work/race1") + $(written "$work/race2")))
  check "$label: two restores at once wrote each of $count names once (wrote $total)" [ "$total" = "$count" ]
  check "$label: $count files in the folder" [ "$(find d -type f | wc -l)" = "$count" ]
  no_temporaries . "$label: two restores at once"
  cd "$work"
}
race "$work" "the work folder" 400
race /dev/shm/ "tmpfs" 400
rm -rf /dev/shm/race

if [ "$fuse_ok" = 1 ]; then
  truncate -s 64M "$work/fat.img" && mkfs.vfat "$work/fat.img" >/dev/null && mkdir -p "$work/fat"
  fusefat -s -o rw+ "$work/fat.img" "$work/fat" >/dev/null 2>&1 && mounts+=("$work/fat")
  # exFAT through FUSE wants a block device: a loop device over the image.
  truncate -s 64M "$work/exfat.img" && mkfs.exfat "$work/exfat.img" >/dev/null && mkdir -p "$work/exfat"
  loop=$(losetup -f --show "$work/exfat.img" 2>/dev/null)
  [ -b "$loop" ] && mount.exfat-fuse "$loop" "$work/exfat" >/dev/null 2>&1 && mounts+=("$work/exfat")
  check "FAT is mounted" mounted "$work/fat"
  check "exFAT is mounted" mounted "$work/exfat"
  race "$work/exfat" "exFAT" 400
  race "$work/fat" "FAT" 24  # the FAT through FUSE takes a second a name, and keeps 30 in a folder

  # An entry that names the archive in another spelling, and an output that names its source.
  for fs in fat exfat; do
    mkdir -p "$work/$fs/self" && cd "$work/$fs/self"
    pck craft photos.pck 'PHOTOS.PCK=x' 'a.txt=y' && cp photos.pck "$work/photos.orig"
    run -h -o photos.pck
    same_file "$work/photos.orig" photos.pck "$fs: an entry PHOTOS.PCK leaves photos.pck as it was"
    run -h -o PHOTOS.pck
    same_file "$work/photos.orig" photos.pck "$fs: the archive named as PHOTOS.pck is left as it was"
    printf 'notes' >NOTES.PCK
    run -h -o -c NOTES.PCK
    check "$fs: compressing NOTES.PCK leaves it as it was" [ "$(cat NOTES.PCK)" = notes ]
    [ "$fs" = fat ] && stderr_has "NOTES.pck: the compressed file would replace its own source; refused" "FAT says why"
    cd "$work"
  done

  # A read that blocks until a signal interrupts it: SIGINT and SIGTERM are heard, the run ends as
  # a cancel with one line and leaves no archive.
  mkdir -p "$work/stall" && /usr/bin/python3 "$here/odd_fs.py" "$work/stall" stall 2>/dev/null &
  until_mounted "$work/stall" && mounts+=("$work/stall")
  printf 'never read' >"$work/stall/stall.bin"
  for signal in INT TERM; do
    cd "$work/stall"
    env -u DISPLAY "$velmora" -h stall.bin </dev/null >/dev/null 2>"$work/stderr" &
    pid=$!
    sleep 1
    kill -"$signal" "$pid"
    for _ in $(seq 1 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    if kill -0 "$pid" 2>/dev/null; then
      kill -9 "$pid"
      fail "SIG$signal was not heard by a read that blocks"
    fi
    wait "$pid"
    rc=$?
    expect_rc 4 "SIG$signal during a read that blocks"
    stderr_has "stall.bin: cancelled" "SIG$signal: one line says the run was cancelled"
    check "SIG$signal: no archive is left" [ ! -e stall.pck ]
    cd "$work"
  done

  # A file system that drops the back-patched offsets: the compress reads its chain back, says so
  # and keeps the older archive.
  mkdir -p "$work/lose" && /usr/bin/python3 "$here/odd_fs.py" "$work/lose" lose 2>/dev/null &
  until_mounted "$work/lose" && mounts+=("$work/lose")
  mkdir -p "$work/lose/src" && cp "$corpus/alice29.txt" "$corpus/asyoulik.txt" "$work/lose/src/"
  printf 'older archive' >"$work/lose/src.pck"
  cd "$work/lose" && runs 4 "a file system that loses writes" -h -o src
  stderr_has "src.pck: the file system did not keep the archive whole" "the lost write is reported"
  check "the older archive is kept" [ "$(cat src.pck)" = "older archive" ]
  cd "$work"
fi
finish
