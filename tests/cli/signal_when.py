#!/usr/bin/env python3
"""Runs a program and sends it a signal once it has written a given amount into a file.

  signal_when.py PREFIX BYTES SIGNAL COMMAND...   runs COMMAND (standard input and output from
                                                  /dev/null, standard error kept); polls the
                                                  current folder every 2 ms, and once a file whose
                                                  name starts with PREFIX holds BYTES bytes or more,
                                                  sends SIGNAL (INT, KILL, ...). Prints "sent" or
                                                  "ended"; exits with the program's exit status.
"""
import os
import signal
import subprocess
import sys
import time

prefix, size, number = sys.argv[1], int(sys.argv[2]), getattr(signal, "SIG" + sys.argv[3])
child = subprocess.Popen(sys.argv[4:], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)
sent = False
while child.poll() is None and not sent:
    for name in os.listdir("."):
        try:
            if name.startswith(prefix) and os.stat(name).st_size >= size:
                child.send_signal(number)
                sent = True
                break
        except FileNotFoundError:
            pass
    time.sleep(0.002)
status = child.wait()
print("sent" if sent else "ended")
sys.exit(128 - status if status < 0 else status)
