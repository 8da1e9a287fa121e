#!/usr/bin/env python3
"""Swaps a folder with a symbolic link over and over, as an attacker racing a restore would.

  swap_loop.py FOLDER LINK PID   exchanges FOLDER and LINK (renameat2 RENAME_EXCHANGE) whenever
                                 both exist, until process PID ends; prints the number of swaps
"""
import ctypes
import os
import sys

AT_FDCWD = -100
RENAME_EXCHANGE = 2

libc = ctypes.CDLL(None, use_errno=True)
folder, link, pid = sys.argv[1].encode(), sys.argv[2].encode(), int(sys.argv[3])
swaps = 0
while True:
    try:
        os.kill(pid, 0)
    except OSError:
        break
    if libc.renameat2(AT_FDCWD, folder, AT_FDCWD, link, RENAME_EXCHANGE) == 0:
        swaps += 1
print(swaps)
