#!/usr/bin/env python3
"""Sends a signal to a process and tells when it ended, as the kernel saw it.

Usage: exit_time.py [--own-time] PID SIGNAL SECONDS [SINCE_NS]

SIGNAL is a name (TERM, INT, KILL) or 0 for none. The process is watched
through a pidfd, which turns readable the moment the process exits (before
its parent reaps it: a zombie has ended); without pidfds, /proc/PID/stat is
read every 5 ms and state Z or no process counts as ended.

Prints "ended MS STARVED" (milliseconds from the signal, or from SINCE_NS, a
CLOCK_MONOTONIC time in ns printed by an earlier call, to the end) and exits
0; prints "running MS STARVED T0_NS" (T0_NS: when the signal was sent) and
exits 1 when the process still runs after SECONDS; exits 2 when there is no
such process. STARVED is the longest time one of the process's threads was
ready to run but waited for a CPU meanwhile (its run-queue wait, sampled
every 50 ms from /proc/PID/task/*/schedstat; 0 where the kernel keeps no
such figures): MS - STARVED is the time the process itself took, which a
loaded machine does not stretch. With --own-time, SECONDS counts that time
(the wait gives up at ten times SECONDS of wall time at the latest).
The time is taken by a process that only waits, so the caller's own work
(screenshots, stack dumps) and its polling steps are not in it.
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


def run_queue_waits(pid):
    """Nanoseconds each thread of the process has waited on a run queue."""
    waits = {}
    try:
        tids = os.listdir("/proc/%d/task" % pid)
    except OSError:
        return waits
    for tid in tids:
        try:
            with open("/proc/%d/task/%s/schedstat" % (pid, tid)) as f:
                waits[tid] = int(f.read().split()[1])
        except (OSError, IndexError, ValueError):
            pass
    return waits


def main():
    args = sys.argv[1:]
    own_time = "--own-time" in args
    args = [a for a in args if a != "--own-time"]
    pid, sig, secs = int(args[0]), args[1], float(args[2])
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
    first = run_queue_waits(pid)
    last = dict(first)
    starved = 0
    t0 = time.monotonic_ns()
    if signum:
        try:
            os.kill(pid, signum)
        except ProcessLookupError:
            pass  # ended in the meantime: the wait below sees it
    since = int(args[3]) if len(args) > 3 else t0
    limit = int(secs * 1e9)
    hard_deadline = t0 + (10 * limit if own_time else limit)
    poll = None
    if fd is not None:
        poll = select.poll()
        poll.register(fd, select.POLLIN)

    def has_ended(wait_ms):
        if poll is not None:
            return bool(poll.poll(wait_ms))
        if zombie_or_gone(pid):
            return True
        time.sleep(min(wait_ms, 5) / 1000)
        return zombie_or_gone(pid)

    ended = False
    while not ended:
        now = time.monotonic_ns()
        used = now - t0 - (starved if own_time else 0)
        if now >= hard_deadline or used >= limit:
            break
        ended = has_ended(max(1, min(50, (limit - used) // 1000000)))
        if not ended:
            # A thread that came after the signal waited only since then.
            for tid, wait in run_queue_waits(pid).items():
                last[tid] = wait
            starved = max([0] + [w - first.get(tid, 0) for tid, w in last.items()])
    # Checked once more: a process can end just as the wait runs out.
    ended = ended or has_ended(0)
    ms = (time.monotonic_ns() - since) // 1000000
    if ended:
        print("ended %d %d" % (ms, starved // 1000000))
        return 0
    print("running %d %d %d" % (ms, starved // 1000000, t0))
    return 1


if __name__ == "__main__":
    sys.exit(main())
