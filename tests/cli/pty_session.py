#!/usr/bin/env python3
"""Runs a program on a pseudo-terminal and answers its questions.

Usage: pty_session.py [--expect TEXT --send LINE]... -- PROGRAM [ARGS...]

Each --expect waits (in order) until TEXT appears in the output after the previous match, then
types LINE and Enter. The whole transcript goes to standard output; the exit status is the
program's, or 124 when an expected text did not come within 20 seconds.
"""
import os
import pty
import select
import sys
import time


def main():
    args = sys.argv[1:]
    steps = []
    while args and args[0] != "--":
        if len(args) < 4 or args[0] != "--expect" or args[2] != "--send":
            sys.exit("usage: pty_session.py [--expect TEXT --send LINE]... -- PROGRAM [ARGS...]")
        steps.append((args[1], args[3]))
        args = args[4:]
    command = args[1:]
    pid, fd = pty.fork()
    if pid == 0:
        os.execvp(command[0], command)
    transcript = b""
    seen = 0
    timed_out = False

    def read_some(deadline):
        nonlocal transcript
        ready, _, _ = select.select([fd], [], [], max(0.0, deadline - time.time()))
        if not ready:
            return True
        try:
            chunk = os.read(fd, 4096)
        except OSError:
            return False
        if not chunk:
            return False
        transcript += chunk
        return True

    for expect, send in steps:
        deadline = time.time() + 20
        while transcript.find(expect.encode(), seen) < 0:
            if time.time() > deadline or not read_some(deadline):
                timed_out = True
                break
        if timed_out:
            break
        seen = transcript.find(expect.encode(), seen) + len(expect)
        os.write(fd, send.encode() + b"\n")
    deadline = time.time() + 20
    while time.time() < deadline and read_some(deadline):
        pass
    if timed_out or time.time() >= deadline:
        os.kill(pid, 9)
    _, status = os.waitpid(pid, 0)
    sys.stdout.write(transcript.decode(errors="replace"))
    if timed_out:
        sys.exit(124)
    sys.exit(os.waitstatus_to_exitcode(status) if os.WIFEXITED(status) else 125)


main()
