#!/usr/bin/env python3
"""Changes single payload bytes of an archive, one at a time, and restores each damaged copy.

  damage_sweep.py VELMORA ARCHIVE COUNT

ARCHIVE's entries name their original files below the archive's folder. COUNT positions are spread evenly over every payload byte (block bodies
and trailers). Each try restores into a fresh copy of a target where every entry's file exists
with other bytes, with -o: the restore must exit 4, and the file of the damaged entry must keep
its bytes. A change that restores every byte exactly (a padding bit past a section's last code,
which the block format leaves unused) is counted apart: nothing was lost. Prints the figures;
exits 1 when a change restored wrong bytes without exit 4, or harmed an existing file.
"""
import os
import shutil
import struct
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import pck  # noqa: E402

velmora, archive, count = sys.argv[1], sys.argv[2], int(sys.argv[3])
data = open(archive, "rb").read()
spans = []  # (first byte, length, entry name)
for _, _, name, _, blocks, _ in pck.entries(data):
    for offset, payload in blocks:
        spans.append((offset, len(payload), name))
total = sum(length for _, length, _ in spans)
work = tempfile.mkdtemp(prefix="velmora-sweep.")
env = dict(os.environ)
env.pop("DISPLAY", None)
tried = detected = silent = harmed = exact = 0
stored_tried = 0
try:
    for k in range(count):
        target = (k * total) // count + (total // count) // 2
        for offset, length, name in spans:
            if target < length:
                break
            target -= length
        position = offset + target
        folder = os.path.join(work, "try")
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder)
        damaged = bytearray(data)
        damaged[position] = (damaged[position] + 1) & 0xFF
        open(os.path.join(folder, "x.pck"), "wb").write(damaged)
        for _, _, entry, _, _, _ in pck.entries(data):
            path = os.path.join(folder, *entry.split("\\"))
            os.makedirs(os.path.dirname(path), exist_ok=True)
            open(path, "wb").write(b"the file that was there")
        if struct.unpack_from("<I", data, offset + 4)[0] == 0:
            stored_tried += 1
        rc = subprocess.run([velmora, "-h", "-o", "x.pck"], cwd=folder, env=env, stdin=subprocess.DEVNULL,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode
        tried += 1
        restored = open(os.path.join(folder, *name.split("\\")), "rb").read()
        kept = restored == b"the file that was there"
        original = os.path.join(os.path.dirname(archive), *name.split("\\"))
        if rc == 4:
            detected += 1
        elif rc == 0 and restored == open(original, "rb").read():
            exact += 1
            continue
        else:
            silent += 1
            print("unnoticed: byte %d (entry %s) exit %d" % (position, name, rc))
        if not kept:
            harmed += 1
            print("harmed: byte %d replaced the existing %s" % (position, name))
finally:
    shutil.rmtree(work)
print("changed bytes tried %d (%d in stored blocks), detected %d, restored exactly %d, silent %d, "
      "existing files harmed %d" % (tried, stored_tried, detected, exact, silent, harmed))
sys.exit(1 if silent or harmed or stored_tried == 0 else 0)
