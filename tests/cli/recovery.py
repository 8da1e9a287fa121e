#!/usr/bin/env python3
"""Recovery after damage, end to end: an archive of 50 entries (one of them an archive itself,
whose own entries prove themselves too) is damaged and restored, and every run must give back
every entry the damage did not touch, byte for byte, and nothing that the archive did not hold.

Tables: every next-entry offset with each of its 8 bytes changed; 200 seeded runs of 1 to 4,096
bytes inserted, deleted or changed (bits flipped) anywhere; the archive cut inside an entry. A
run that ends with exit code 0 must have restored everything.

  recovery.py VELMORA CORPUS_DIR
"""
import os
import random
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import pck  # noqa: E402

velmora, corpus = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
work = tempfile.mkdtemp(prefix="velmora-recovery.")
failures = []
checks = 0


def run(*args, cwd):
    return subprocess.run([velmora, *args], cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.PIPE)


def make_tree():
    """The source tree: slices of the corpus, an empty file, a file of several blocks and an archive
    made by the program."""
    rng = random.Random(55)
    sources = sorted(os.listdir(corpus))
    sources = [s for s in sources if s != "README.md"]
    tree = os.path.join(work, "src", "t")
    inner = os.path.join(work, "inner", "in")
    os.makedirs(inner)
    for k in range(3):
        with open(os.path.join(inner, "part%d.txt" % k), "wb") as f:
            f.write(open(os.path.join(corpus, "alice29.txt"), "rb").read()[k * 3000:(k + 1) * 3000])
    assert run("-h", "-o", "-w=4096", "in", cwd=os.path.join(work, "inner")).returncode == 0
    os.makedirs(os.path.join(tree, "sub"))
    files = {"inner.pck": open(os.path.join(work, "inner", "in.pck"), "rb").read(), "empty.txt": b"",
             "big.txt": open(os.path.join(corpus, "plrabn12.txt"), "rb").read()[:400000]}
    while len(files) < 50:
        data = open(os.path.join(corpus, rng.choice(sources)), "rb").read()
        length = rng.choice([rng.randrange(1, 600), rng.randrange(600, 70000)])
        at = rng.randrange(0, len(data) - length)
        files["%sf%02d.bin" % ("sub/" if len(files) % 3 == 0 else "", len(files))] = data[at:at + length]
    for name, data in files.items():
        with open(os.path.join(tree, name), "wb") as f:
            f.write(data)
    assert run("-h", "-o", "-w=65536", "t", cwd=os.path.join(work, "src")).returncode == 0
    return files, open(os.path.join(work, "src", "t.pck"), "rb").read()


def stored_name(name):
    return "t/" + name


def check_run(what, data, touched, files, extents):
    """Restores `data` and checks what came back; `touched` holds the entries the damage touched."""
    global checks
    checks += 1
    folder = os.path.join(work, "run")
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    with open(os.path.join(folder, "x.pck"), "wb") as f:
        f.write(data)
    result = run("-h", "-o", "-d=out", "x.pck", cwd=folder)
    problems = []
    if result.returncode not in (0, 4):
        problems.append("exit code %d" % result.returncode)
    out = os.path.join(folder, "out")
    found = {}
    for top, _, names in os.walk(out):
        for n in names:
            path = os.path.join(top, n)
            found[os.path.relpath(path, out).replace(os.sep, "/")] = open(path, "rb").read()
    for name, got in found.items():
        original = files.get(name[2:]) if name.startswith("t/") else None
        if original is None:
            problems.append("restored %s, which the archive did not hold" % name)
        elif got != original and not original.startswith(got):
            problems.append("%s is neither whole nor a part of the original" % name)
    for index, (name, _, _) in enumerate(extents):
        got = found.get(stored_name(name))
        lost = got != files[name]
        if lost and index not in touched:
            problems.append("lost untouched entry %d (%s)" % (index, name))
        if lost and result.returncode == 0:
            problems.append("exit code 0 with entry %d not whole" % index)
    if problems:
        failures.append("%s: %s; stderr: %s" % (what, "; ".join(problems[:4]),
                                                result.stderr.decode(errors="replace")[-400:]))
    return result


def main():
    files, archive = make_tree()
    entries = list(pck.entries(archive))
    extents = [(name.replace("\\", "/")[2:], at, nxt) for at, nxt, name, _, _, _ in entries]
    if len(extents) != 50 or extents[-1][2] != len(archive):
        failures.append("the archive has %d entries" % len(extents))
        return

    def touching(first, last):  # entries with a byte in [first, last]
        return {i for i, (_, at, nxt) in enumerate(extents) if at <= last and first < nxt}

    # Every byte of every next-entry offset changed: that entry at most is lost.
    for index, (_, at, _) in enumerate(extents):
        for byte in range(8):
            damaged = bytearray(archive)
            damaged[at + byte] ^= 0x55 if byte % 2 == 0 else 0x01
            check_run("offset of entry %d, byte %d" % (index, byte), bytes(damaged), {index}, files, extents)

    # Inserted, deleted or changed ranges: only the entries they touch may be lost.
    rng = random.Random(4096)
    for number in range(200):
        kind = ("insert", "delete", "change")[number % 3]
        length = rng.choice([rng.randrange(1, 17), rng.randrange(1, 4097)])
        at = rng.randrange(0, len(archive) - length)
        if kind == "insert":
            damaged = archive[:at] + bytes(rng.randrange(256) for _ in range(length)) + archive[at:]
            touched = touching(at, at)
        elif kind == "delete":
            damaged = archive[:at] + archive[at + length:]
            touched = touching(at, at + length - 1)
        else:
            damaged = bytearray(archive)
            for k in range(at, at + length):
                damaged[k] ^= rng.randrange(1, 256)
            damaged = bytes(damaged)
            touched = touching(at, at + length - 1)
        check_run("run %d: %s %d bytes at %d" % (number, kind, length, at), damaged, touched, files, extents)

    # A listing and a test after a damaged header show every other entry, and name the range.
    damaged = bytearray(archive)
    for k in range(extents[20][1], extents[20][1] + 12):
        damaged[k] ^= 0xA5
    folder = os.path.join(work, "list")
    os.makedirs(folder)
    with open(os.path.join(folder, "x.pck"), "wb") as f:
        f.write(damaged)
    for option in ("-l", "-t"):
        result = run("-h", option, "x.pck", cwd=folder)
        listed = result.stdout.decode(errors="replace")
        expected = "bytes %d to %d of the archive are damaged; 29 entries after them recovered" % (
            extents[20][1], extents[21][1] - 1)
        shown = [name for name, _, _ in extents if ("t/" + name) in listed]
        if option == "-t":  # the test shows its count only
            shown = [name for index, (name, _, _) in enumerate(extents) if index != 20]
        if result.returncode != 4 or expected not in result.stderr.decode() or len(shown) != 49 \
                or extents[20][0] in shown or "49 entries" not in listed:
            failures.append("%s of a damaged header: exit %d, %d entries shown; stderr: %s" % (
                option, result.returncode, len(shown), result.stderr.decode(errors="replace")[-300:]))

    # An archive made before check values stops at the break, as it always did, and says why.
    old = os.path.join(folder, "old.pck")
    with open(old, "wb") as f:
        f.write(archive)
    subprocess.run([sys.executable, pck.__file__, "strip-trailers", old], check=True)
    stripped = list(pck.entries(open(old, "rb").read()))
    subprocess.run([sys.executable, pck.__file__, "flip", old, str(stripped[10][0] + 3)], check=True)
    result = run("-h", "-t", "old.pck", cwd=folder)
    if result.returncode != 4 or b"10 entries were checked, the rest of the archive cannot be read from there " \
            b"(entries made before check values cannot be found again)" not in result.stderr:
        failures.append("old archive: exit %d; stderr: %s" % (result.returncode, result.stderr[-300:]))

    # Cut inside an entry's blocks: every entry before it comes back, and of the cut one its
    # whole blocks (a prefix).
    big = max(range(50), key=lambda i: len(entries[i][4]))
    cut = entries[big][4][-1][0] + 10
    result = check_run("cut inside entry %d" % big, archive[:cut], set(range(big, 50)), files, extents)
    got = os.path.join(work, "run", "out", stored_name(extents[big][0]))
    if not os.path.exists(got) or os.path.getsize(got) == 0 or b"cut short" not in result.stderr:
        failures.append("cut inside entry %d: its whole blocks were not kept, or the cut was not reported" % big)


try:
    main()
finally:
    shutil.rmtree(work, ignore_errors=True)
for failure in failures[:20]:
    print("FAIL:", failure, file=sys.stderr)
print("%d runs, %d failed" % (checks, len(failures)))
sys.exit(1 if failures else 0)
