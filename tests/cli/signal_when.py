#!/usr/bin/env python3
"""Runs a program and sends it a signal once it has written a given number of bytes.

  signal_when.py BYTES SIGNAL COMMAND...   runs COMMAND (standard input and output from /dev/null,
                                           standard error kept); polls the bytes it has written
                                           (/proc/PID/io) every 2 ms and, once they reach BYTES,
                                           sends SIGNAL (INT, KILL, ...). Prints "sent" or
                                           "ended"; exits with the program's exit status.
"""
import signal
import subprocess
import sys
import time

size, number = int(sys.argv[1]), getattr(signal, "SIG" + sys.argv[2])
child = subprocess.Popen(sys.argv[3:], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)
sent = False
while child.poll() is None and not sent:
    try:
        with open("/proc/%d/io" % child.pid) as io:
            written = next(int(line.split()[1]) for line in io if line.startswith("wchar:"))
        if written >= size:
            child.send_signal(number)
            sent = True
    except (OSError, StopIteration):
        pass
    time.sleep(0.002)
status = child.wait()
print("sent" if sent else "ended")
sys.exit(128 - status if status < 0 else status)
