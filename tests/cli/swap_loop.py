#!/usr/bin/env python3
"""Swaps a folder with a symbolic link over and over, as an attacker racing a restore would.

  swap_loop.py FOLDER LINK COMMAND...   starts COMMAND (standard input and output from /dev/null,
                                        standard error to the swap loop's) and exchanges FOLDER and
                                        LINK (renameat2 RENAME_EXCHANGE) whenever both exist, from
                                        before COMMAND starts until it ends; prints the number of
                                        swaps and exits with COMMAND's exit status
"""
import ctypes
import subprocess
import sys

AT_FDCWD = -100
RENAME_EXCHANGE = 2

libc = ctypes.CDLL(None, use_errno=True)
folder, link = sys.argv[1].encode(), sys.argv[2].encode()
swaps = 0
child = subprocess.Popen(sys.argv[3:], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)
while child.poll() is None:
    if libc.renameat2(AT_FDCWD, folder, AT_FDCWD, link, RENAME_EXCHANGE) == 0:
        swaps += 1
print(swaps)
sys.exit(child.returncode)
