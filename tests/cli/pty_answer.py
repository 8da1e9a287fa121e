#!/usr/bin/env python3
"""Runs a program on a pseudo-terminal and answers its questions.

  pty_answer.py LOG ANSWERS program args...

Every time the program's terminal output shows a new question (a line ending in "?"), the next
letter of ANSWERS is typed (y or n picks the button of that letter; c types Ctrl-C). The
questions seen are written to LOG, one a line, and everything the terminal showed to LOG.out.
When PTY_BEFORE_ANSWER is set, that shell command runs before the first answer is typed; PTY_COLUMNS
sets the terminal's width (default 80). The
exit code is the program's; 124 when it hangs, 125 when it asks more questions than there are
answers.
"""
import fcntl
import os
import pty
import struct
import termios
import re
import select
import signal
import subprocess
import sys
import time

QUESTION = re.compile(rb"[^\r\n]*(?:already exist\. Overwrite\?|Overwrite all files\?)")


def main(argv):
    log_path, answers, command = argv[1], argv[2], argv[3:]
    pid, fd = pty.fork()
    if pid == 0:
        os.environ.pop("DISPLAY", None)
        columns = int(os.environ.get("PTY_COLUMNS", "80"))
        fcntl.ioctl(0, termios.TIOCSWINSZ, struct.pack("HHHH", 24, columns, 0, 0))
        os.execv(command[0], command)
    seen = []
    output = b""
    scanned = 0
    deadline = time.time() + 120
    status = None
    while True:
        if time.time() > deadline:
            os.kill(pid, signal.SIGKILL)
            os.waitpid(pid, 0)
            status = 124
            break
        ready, _, _ = select.select([fd], [], [], 0.1)
        if ready:
            try:
                chunk = os.read(fd, 4096)
            except OSError:
                chunk = b""
            if not chunk:
                _, raw = os.waitpid(pid, 0)
                status = os.waitstatus_to_exitcode(raw)
                break
            output += chunk
            for match in QUESTION.finditer(output, scanned):
                scanned = match.end()
                seen.append(match.group(0).decode("utf-8", "replace").strip())
                if len(seen) > len(answers):
                    os.kill(pid, signal.SIGKILL)
                    os.waitpid(pid, 0)
                    status = 125
                    break
                if len(seen) == 1 and os.environ.get("PTY_BEFORE_ANSWER"):
                    subprocess.run(os.environ["PTY_BEFORE_ANSWER"], shell=True, check=False)
                time.sleep(0.05)
                answer = answers[len(seen) - 1]
                os.write(fd, b"\x03" if answer == "c" else answer.encode())
            if status is not None:
                break
        else:
            done, raw = os.waitpid(pid, os.WNOHANG)
            if done:
                status = os.waitstatus_to_exitcode(raw)
                break
    with open(log_path + ".out", "wb") as shown:
        shown.write(output)
    with open(log_path, "w", encoding="utf-8") as log:
        for question in seen:
            log.write(question + "\n")
    return status


if __name__ == "__main__":
    sys.exit(main(sys.argv))
