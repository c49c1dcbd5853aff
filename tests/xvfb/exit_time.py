#!/usr/bin/env python3
"""Sends a signal to a process and tells when it ended, as the kernel saw it.

Usage: exit_time.py PID SIGNAL SECONDS [SINCE_NS]

SIGNAL is a name (TERM, INT, KILL) or 0 for none. The process is watched
through a pidfd, which turns readable the moment the process exits (before
its parent reaps it: a zombie has ended); without pidfds, /proc/PID/stat is
read every 5 ms and state Z or no process counts as ended.

Prints "ended MS" (milliseconds from the signal, or from SINCE_NS, a
CLOCK_MONOTONIC time in ns printed by an earlier call, to the end) and exits
0; prints "running MS T0_NS" (T0_NS: when the signal was sent) and exits 1
when the process still runs after SECONDS; exits 2 when there is no such
process. The time is taken by a process that only waits, so it holds on a
loaded machine: the caller's own work (screenshots, stack dumps) and its
polling steps are not in it.
"""
import os
import select
import signal
import sys
import time


def zombie_or_gone(pid):
    try:
        with open("/proc/%d/stat" % pid, "rb") as f:
            stat = f.read()
    except OSError:
        return True
    # The state follows the command name, which is in parentheses and may
    # itself hold spaces or parentheses.
    return stat[stat.rindex(b")") + 2:stat.rindex(b")") + 3] in (b"Z", b"X")


def main():
    pid, sig, secs = int(sys.argv[1]), sys.argv[2], float(sys.argv[3])
    signum = 0 if sig == "0" else getattr(signal, "SIG" + sig.upper().removeprefix("SIG"))
    try:
        fd = os.pidfd_open(pid)
    except ProcessLookupError:
        print("no process %d" % pid)
        return 2
    except (AttributeError, OSError):
        fd = None
        if zombie_or_gone(pid):
            print("no process %d" % pid)
            return 2
    t0 = time.monotonic_ns()
    if signum:
        try:
            os.kill(pid, signum)
        except ProcessLookupError:
            pass  # ended in the meantime: the wait below sees it
    since = int(sys.argv[4]) if len(sys.argv) > 4 else t0
    deadline = t0 + int(secs * 1e9)
    ended = False
    if fd is not None:
        poll = select.poll()
        poll.register(fd, select.POLLIN)
        while not ended:
            left = deadline - time.monotonic_ns()
            if left <= 0:
                break
            ended = bool(poll.poll(max(1, left // 1000000)))
        # Checked once more: a process can end just as the wait runs out.
        ended = ended or bool(poll.poll(0))
    else:
        while not ended and time.monotonic_ns() < deadline:
            ended = zombie_or_gone(pid)
            if not ended:
                time.sleep(0.005)
        ended = ended or zombie_or_gone(pid)
    ms = (time.monotonic_ns() - since) // 1000000
    if ended:
        print("ended %d" % ms)
        return 0
    print("running %d %d" % (ms, t0))
    return 1


if __name__ == "__main__":
    sys.exit(main())
