#!/usr/bin/python3
"""A small file system in memory, mounted through FUSE, that misbehaves on purpose.

  odd_fs.py MOUNTPOINT MODE

MODE is one of:
  stall  reading a file named stall* never ends: the read waits until the kernel interrupts it
         (a signal to the reader) and then fails with EINTR, as an interruptible device does
  lose   a write that lands before a file's end is dropped (it reports success), as a file
         system that loses a back-patched offset does

Everything else is an ordinary file system without hard links, unnamed files or
RENAME_NOREPLACE. Runs in the foreground until unmounted (fusermount -u MOUNTPOINT).
"""
import ctypes
import errno
import os
import stat
import sys
import time

import fusepy


class OddFs(fusepy.Operations):
    def __init__(self, mode):
        self.mode = mode
        now = time.time()
        self.items = {"/": {"mode": stat.S_IFDIR | 0o755, "time": now}}
        self.data = {}

    def _item(self, path):
        if path not in self.items:
            raise fusepy.FuseOSError(errno.ENOENT)
        return self.items[path]

    def getattr(self, path, fh=None):
        item = self._item(path)
        size = len(self.data.get(path, b""))
        return {"st_mode": item["mode"], "st_nlink": 2 if stat.S_ISDIR(item["mode"]) else 1, "st_size": size,
                "st_mtime": item["time"], "st_atime": item["time"], "st_ctime": item["time"],
                "st_uid": os.getuid(), "st_gid": os.getgid()}

    def readdir(self, path, fh):
        prefix = path.rstrip("/") + "/"
        names = [p[len(prefix):] for p in self.items if p != path and p.startswith(prefix) and "/" not in p[len(prefix):]]
        return [".", ".."] + names

    def mkdir(self, path, mode):
        if path in self.items:
            raise fusepy.FuseOSError(errno.EEXIST)
        self.items[path] = {"mode": stat.S_IFDIR | mode, "time": time.time()}

    def create(self, path, mode, fi=None):
        if path in self.items:
            raise fusepy.FuseOSError(errno.EEXIST)
        self.items[path] = {"mode": stat.S_IFREG | mode, "time": time.time()}
        self.data[path] = bytearray()
        return 0

    def open(self, path, flags):
        self._item(path)
        return 0

    def read(self, path, size, offset, fh):
        if self.mode == "stall" and os.path.basename(path).startswith("stall"):
            libfuse = fusepy._libfuse
            libfuse.fuse_interrupted.restype = ctypes.c_int
            while not libfuse.fuse_interrupted():
                time.sleep(0.02)
            raise fusepy.FuseOSError(errno.EINTR)
        return bytes(self.data[path][offset:offset + size])

    def write(self, path, buf, offset, fh):
        content = self.data[path]
        if self.mode == "lose" and offset < len(content):
            return len(buf)
        if offset > len(content):
            content.extend(b"\0" * (offset - len(content)))
        content[offset:offset + len(buf)] = buf
        return len(buf)

    def truncate(self, path, length, fh=None):
        content = self.data[path]
        del content[length:]
        content.extend(b"\0" * (length - len(content)))

    def unlink(self, path):
        self._item(path)
        del self.items[path]
        self.data.pop(path, None)

    def rmdir(self, path):
        del self.items[path]

    def rename(self, old, new):
        item = self._item(old)
        if new in self.items and stat.S_ISDIR(self.items[new]["mode"]):
            raise fusepy.FuseOSError(errno.EISDIR)
        self.items[new] = item
        del self.items[old]
        if old in self.data:
            self.data[new] = self.data.pop(old)

    def utimens(self, path, times=None):
        self._item(path)["time"] = times[1] if times else time.time()

    def chmod(self, path, mode):
        item = self._item(path)
        item["mode"] = (item["mode"] & ~0o7777) | mode

    def statfs(self, path):
        return {"f_bsize": 4096, "f_frsize": 4096, "f_blocks": 65536, "f_bfree": 32768, "f_bavail": 32768,
                "f_files": 65536, "f_ffree": 32768, "f_namemax": 255}


if __name__ == "__main__":
    fusepy.FUSE(OddFs(sys.argv[2]), sys.argv[1], foreground=True, nothreads=False, intr=True, direct_io=True)
