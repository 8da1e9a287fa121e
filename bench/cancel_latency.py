#!/usr/bin/env python3
"""Time from SIGINT to the end of a compression, for several worker counts (medians of runs).

  bench/cancel_latency.py VELMORA FILE [workers...]   (default workers: 2 7 64; 5 runs each)

The signal is sent once the temporary archive holds 2 MB, so blocks are in flight on every worker.
"""
import os
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time

velmora, source = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
counts = [int(n) for n in sys.argv[3:]] or [2, 7, 64]
work = tempfile.mkdtemp(prefix="velmora-cancel.")
name = os.path.join(work, "input.bin")
shutil.copy(source, name)
part = os.path.join(work, "input.pck.part")
for workers in counts:
    times = []
    for _ in range(5):
        env = dict(os.environ, VELMORA_THREADS=str(workers))
        env.pop("DISPLAY", None)
        child = subprocess.Popen([velmora, "-h", "-o", name], env=env, stdin=subprocess.DEVNULL,
                                 stderr=subprocess.DEVNULL)
        while child.poll() is None and not (os.path.exists(part) and os.stat(part).st_size > 2000000):
            time.sleep(0.002)
        if child.poll() is not None:
            continue
        sent = time.monotonic()
        child.send_signal(signal.SIGINT)
        child.wait()
        times.append(time.monotonic() - sent)
    if times:
        print(f"workers {workers:3d}: SIGINT to exit, median {statistics.median(times):.3f} s, "
              f"max {max(times):.3f} s over {len(times)} runs")
shutil.rmtree(work)
