#!/usr/bin/env python3
"""Reads, checks and crafts compressed files for the end-to-end tests.

An entry is: nextEntryOffset (u64) | UTF-16LE name + 0 unit | reserved byte | last-write time
(u64, Windows file time) | blocks (u32 payload length + payload). A stored payload is the chunk
length (u32), a 32-bit 0, then the chunk's bytes. In a checked entry (reserved byte 1) every
payload ends with an 8-byte trailer (chunk length, check value).

  pck.py list ARCHIVE                  one line per entry: offset next time blocks stored name
  pck.py check ARCHIVE                 exit 1 unless the chain is valid to the end of the file
  pck.py craft OUT ITEM...             writes entries with stored blocks; ITEM is name=text,
                                       name@path (bytes of a file), or name= (empty)
  pck.py patch FILE OFFSET FORMAT VALUE  overwrites a little-endian field (FORMAT Q, I or B)
  pck.py flip FILE OFFSET [MASK]       flips bits of the byte at OFFSET (MASK, default 0x55): a
                                       planted damage that always changes the byte
  pck.py swap-blocks ARCHIVE I J       swaps blocks I and J (lengths and payloads) of the first entry
  pck.py strip-trailers ARCHIVE        rewrites a checked archive as one made before trailers
                                       (reserved byte 0, no trailers, an empty file without block)
  pck.py mtime PATH                    the file's last-write time as a Windows file time
"""
import os
import struct
import sys

EPOCH_DIFFERENCE = 116444736000000000  # 100 ns intervals from 1601-01-01 to 1970-01-01


def entries(data):
    """Yields (offset, next, name, time, blocks, reserved) for every entry the chain admits."""
    at = 0
    while at < len(data):
        if at + 8 > len(data):
            return
        (nxt,) = struct.unpack_from("<Q", data, at)
        pos = at + 8
        units = []
        while pos + 1 < len(data) and len(units) < 999:
            (u,) = struct.unpack_from("<H", data, pos)
            if u == 0:
                break
            units.append(u)
            pos += 2
        first = at + 8 + 2 * (len(units) + 1) + 9
        if nxt == 0 or nxt > len(data) or nxt <= at or nxt < first:
            return
        name = struct.pack("<%dH" % len(units), *units).decode("utf-16-le", "replace")
        (time,) = struct.unpack_from("<Q", data, first - 8)
        reserved = data[first - 9]
        blocks = []
        pos = first
        while pos < nxt:
            (length,) = struct.unpack_from("<I", data, pos)
            blocks.append((pos + 4, data[pos + 4:pos + 4 + length]))
            pos += 4 + length
        yield at, nxt, name, time, blocks, reserved
        at = nxt


def is_stored(payload, reserved):
    trailer = 8 if reserved == 1 else 0
    return len(payload) >= 8 + trailer and struct.unpack_from("<I", payload, 4)[0] == 0 and \
        struct.unpack_from("<I", payload, 0)[0] == len(payload) - 8 - trailer


def entry_bytes(name, content, block=2097152, time=0):
    units = name.encode("utf-16-le")
    body = b""
    for i in range(0, len(content), block):
        chunk = content[i:i + block]
        payload = struct.pack("<II", len(chunk), 0) + chunk
        body += struct.pack("<I", len(payload)) + payload
    return units + b"\0\0" + b"\0" + struct.pack("<Q", time) + body


def craft(items):
    out = b""
    for item in items:
        if "@" in item and ("=" not in item or item.index("@") < item.index("=")):
            name, path = item.split("@", 1)
            content = open(path, "rb").read()
        else:
            name, text = item.split("=", 1)
            content = text.encode()
        body = entry_bytes(name, content, time=133000000000000000)
        out += struct.pack("<Q", len(out) + 8 + len(body)) + body
    return out


def main(argv):
    if len(argv) < 2:
        print(__doc__, file=sys.stderr)
        return 2
    command = argv[1]
    if command == "list":
        data = open(argv[2], "rb").read()
        for at, nxt, name, time, blocks, reserved in entries(data):
            stored = sum(1 for _, b in blocks if is_stored(b, reserved))
            print(at, nxt, time, len(blocks), stored, name)
    elif command == "check":
        data = open(argv[2], "rb").read()
        end = 0
        for _, nxt, _, _, _, _ in entries(data):
            end = nxt
        if end != len(data):
            print("chain ends at %d of %d bytes" % (end, len(data)), file=sys.stderr)
            return 1
    elif command == "craft":
        with open(argv[2], "wb") as f:
            f.write(craft(argv[3:]))
    elif command == "patch":
        path, offset, fmt, value = argv[2], int(argv[3]), argv[4], int(argv[5], 0)
        with open(path, "r+b") as f:
            f.seek(offset)
            f.write(struct.pack("<" + fmt, value))
    elif command == "flip":
        path, offset = argv[2], int(argv[3])
        mask = int(argv[4], 0) if len(argv) > 4 else 0x55
        with open(path, "r+b") as f:
            f.seek(offset)
            byte = f.read(1)[0]
            f.seek(offset)
            f.write(bytes([byte ^ mask]))
    elif command == "swap-blocks":
        data = bytearray(open(argv[2], "rb").read())
        _, nxt, _, _, blocks, _ = next(entries(bytes(data)))
        i, j = sorted((int(argv[3]), int(argv[4])))
        records = [data[offset - 4:offset + len(payload)] for offset, payload in blocks]
        records[i], records[j] = records[j], records[i]
        first = blocks[0][0] - 4
        data[first:nxt] = b"".join(records)
        open(argv[2], "wb").write(data)
    elif command == "strip-trailers":
        data = open(argv[2], "rb").read()
        out = b""
        for at, nxt, name, time, blocks, reserved in entries(data):
            body = name.encode("utf-16-le") + b"\0\0" + b"\0" + struct.pack("<Q", time)
            for _, payload in blocks:
                payload = payload[:-8] if reserved == 1 else payload
                if len(payload) > 8 or reserved != 1:
                    body += struct.pack("<I", len(payload)) + payload
            out += struct.pack("<Q", len(out) + 8 + len(body)) + body
        open(argv[2], "wb").write(out)
    elif command == "mtime":
        print(os.stat(argv[2]).st_mtime_ns // 100 + EPOCH_DIFFERENCE)
    else:
        print(__doc__, file=sys.stderr)
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
