#!/usr/bin/env python3
"""Rising tones whose pitch tells where in the show they are, and what SDL's
"disk" audio driver captured of them (raw 16-bit stereo at 44,100 Hz).

    music_capture.py tones OUTDIR CUT_MS... END_MS
        writes tune1.wav, tune2.wav, ...: one rising tone from 0 to END_MS,
        cut at the CUT_MS points, each piece going on in phase from the one
        before (played one after the other they are one tone)
    music_capture.py wait CAPTURE sound|silence|AT_MS TIMEOUT_S
        waits until the capture's last 100 ms are sound, silence, or a
        sound whose position is at least AT_MS; false after TIMEOUT_S
    music_capture.py position CAPTURE
        the position (ms) the capture's last 100 ms sound at, or "silence"
    music_capture.py check CAPTURE LOG END_MS PAUSES [free]
        splits the capture into stretches of sound; each must begin at the
        show time the player's clock ran from ("Clock run from N" in its
        log) within 40 ms, keep that course within 10 ms, and fall silent
        within 50 ms of the time the show next stood at (the next run's
        time; for the last, where the clock stopped at the show's end,
        END_MS), along a fade: no step larger than the tone's own from one
        sample to the next, no silence before the fade has ended, 90 % to
        10 % of the level in 4 to 16 ms. There must be one for each run of
        the clock, at least PAUSES + 1 (else exit 2; a stretch out of its
        bounds: exit 1). With "free" (music that runs free of the slides,
        held by the pauses only), each stretch is judged against the run
        of the clock nearest to it and must begin within 20 ms of the
        show's time (pauses must not move it off the slides), a bound
        KAV_MUSIC_SLACK_MS never widens, and those starts may not spread
        over more than 20 ms (music drifting through the pauses); its stop
        is only reported.

The tone's frequency is F0 + K * t (t in seconds of show time), so the rate
of its zero crossings over 100 ms tells the show time to a few ms.
"""
import math
import os
import re
import struct
import sys
import time
import wave

RATE = 44100
F0 = 200.0
K = 100.0  # Hz a second
AMP = 12000
LOUD = 1000  # a 2.5 ms block with a peak above this is sound
BLOCK = RATE // 400
# Milliseconds added to every bound (KAV_MUSIC_SLACK_MS): the caller widens
# them on an overloaded machine, where a thread of the player may wait that
# long for a core; music that plays on through a pause is seconds off.
# Free-running music's starts are not widened: where it goes on is taken
# from its time line when the show is held, which no waiting thread moves,
# and the fault they are there for, music drifting through the pauses,
# stays within that slack for many pauses.
SLACK = float(os.environ.get("KAV_MUSIC_SLACK_MS", "0") or 0)
FREE_START_MS = 20  # free-running music: each start, and the spread of them all
GAP_BLOCKS = 8  # 20 ms of quiet part two stretches of sound


def phase(t):
    """Cycles of the tone from show time 0 to t seconds."""
    return F0 * t + K * t * t / 2


def tones(out, cuts, end):
    bounds = [0] + cuts + [end]
    for i in range(len(bounds) - 1):
        a = round(bounds[i] * RATE / 1000)
        b = round(bounds[i + 1] * RATE / 1000)
        frames = bytearray()
        for n in range(a, b):
            v = int(AMP * math.sin(2 * math.pi * phase(n / RATE)))
            frames += struct.pack("<hh", v, v)
        with wave.open(os.path.join(out, "tune%d.wav" % (i + 1)), "wb") as w:
            w.setnchannels(2)
            w.setsampwidth(2)
            w.setframerate(RATE)
            w.writeframes(bytes(frames))


def read_left(path, from_frame=0, frames=None):
    with open(path, "rb") as f:
        f.seek(from_frame * 4)
        data = f.read(-1 if frames is None else frames * 4)
    n = len(data) // 4
    return list(struct.unpack("<%dh" % (2 * n), data[: 4 * n]))[0::2]


def frame_count(path):
    try:
        return os.path.getsize(path) // 4
    except OSError:
        return 0


def show_ms_at(left, a, b):
    """The show time (ms) at frame (a + b) / 2 from the zero crossings in
    left[a:b] (rising ones, placed between samples), or None."""
    xs = []
    for i in range(max(a, 1), b):
        p, q = left[i - 1], left[i]
        if p < 0 <= q:
            xs.append(i - 1 + (-p) / (q - p))
    if len(xs) < 8:
        return None
    f = (len(xs) - 1) * RATE / (xs[-1] - xs[0])
    # The mean rate over the crossings is the rate at their midpoint.
    t = (f - F0) / K * 1000
    return t - ((xs[0] + xs[-1]) / 2 - (a + b) / 2) * 1000 / RATE


def tail_state(path):
    n = frame_count(path)
    if n < RATE // 10:
        return "silence", None
    left = read_left(path, n - RATE // 10)
    if max(abs(v) for v in left) < LOUD:
        return "silence", None
    if min(max(abs(v) for v in left[i:i + BLOCK]) for i in range(0, len(left) - BLOCK, BLOCK)) < LOUD:
        return "edge", None  # sound begins or ends within it
    return "sound", show_ms_at(left, 0, len(left))


def wait(path, what, timeout):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        state, at = tail_state(path)
        if what in ("sound", "silence"):
            if state == what:
                return 0
        elif state == "sound" and at is not None and at >= float(what):
            return 0
        time.sleep(0.01)
    print("waited %g s for %s in %s: the capture's end is %s" % (timeout, what, path, describe(path)))
    return 1


def describe(path):
    state, at = tail_state(path)
    return "sound at %.0f ms" % at if at is not None else state


def stretches(left):
    """[first frame, end frame) of each stretch of sound."""
    out = []
    quiet = GAP_BLOCKS
    start = None
    last_loud = 0
    for i in range(0, len(left) - BLOCK + 1, BLOCK):
        loud = max(abs(v) for v in left[i:i + BLOCK]) >= LOUD
        if loud:
            if start is None:
                start = i
            last_loud = i + BLOCK
            quiet = 0
        else:
            quiet += 1
            if start is not None and quiet >= GAP_BLOCKS:
                out.append((start, last_loud))
                start = None
    if start is not None:
        out.append((start, last_loud))
    return out


def fade_fault(left, b):
    """What is wrong with the fade that ends the stretch of sound whose last
    loud block ends at frame b, or None. The tone's envelope is exact for a
    sine: sqrt(x[n]^2 + ((x[n+1] - x[n-1]) / (2 sin w))^2)."""
    at = show_ms_at(left, b - RATE * 3 // 20, b - RATE // 20)
    if at is None:
        return None  # too short to tell the tone's pitch: judged by the course
    f = F0 + K * (at + 100) / 1000
    w = 2 * math.pi * f / RATE
    lo, hi = max(b - RATE * 6 // 100, 1), min(b + RATE // 50, len(left) - 1)
    env = [math.hypot(left[n], (left[n + 1] - left[n - 1]) / (2 * math.sin(w))) for n in range(lo, hi)]
    head = sorted(env[: RATE * 15 // 1000])
    level = head[len(head) // 2]
    if level < 2 * LOUD:
        return None
    ms = lambda i: i * 1000 / RATE
    own = 2 * level * math.sin(w / 2)
    for n in range(lo, hi - 1):
        if abs(left[n + 1] - left[n]) > own * 1.15 + 64:
            return "a step of %d where the tone's own is %.0f, %.1f ms before the end of the sound" % (
                abs(left[n + 1] - left[n]), own, ms(b - n))
    quiet = next((i for i, e in enumerate(env) if e < 0.05 * level), None)
    if quiet is not None and max(env[quiet:]) > 0.15 * level:
        back = next(i for i in range(quiet, len(env)) if env[i] > 0.15 * level)
        return "silent for %.1f ms before the fade went on at %.0f %% of the level" % (
            ms(back - quiet), 100 * max(env[back:]) / level)
    top = max((i for i, e in enumerate(env) if e >= 0.9 * level), default=0)
    low = next((i for i in range(top, len(env)) if env[i] <= 0.1 * level), len(env))
    if not 4 <= ms(low - top) <= 16:
        return "faded from 90 %% to 10 %% of the level in %.1f ms" % ms(low - top)
    return None


def nearest(times, t):
    return min(times, key=lambda x: abs(x - t)) if times else None


def check(capture, log, end_ms, pauses, free=False):
    left = read_left(capture)
    with open(log, encoding="utf-8", errors="replace") as f:
        events = re.findall(r"Clock (run from|stop at) (-?\d+)", f.read())
    # Runs of the clock with the time it next stopped at; a run the show took
    # back within 200 ms (a start while it still loads) and the sound it let
    # out are too short to judge.
    runs = []
    for kind, at in events:
        if kind == "run from":
            runs.append([float(at), None])
        elif runs and runs[-1][1] is None:
            runs[-1][1] = float(at)
    runs = [(r, stop) for r, stop in runs if stop is None or stop - r >= 200]
    stops = [float(at) for kind, at in events if kind == "stop at"]
    # The show's end stops the clock a pass after the end time at most: the
    # last sound is judged against where the clock stopped.
    last_stop = runs[-1][1] if runs and runs[-1][1] is not None else end_ms
    runs = [r for r, _ in runs]
    parts = [p for p in stretches(left) if p[1] - p[0] >= RATE // 4]
    print("%d stretches of sound for %d pauses; the clock ran from %s" % (
        len(parts), pauses, ", ".join("%.0f" % r for r in runs)))
    # The show may stop of itself too (a slide still loading, the device
    # made again): each of its runs is a stretch of sound, judged alike.
    if len(parts) < pauses + 1:
        print("FAIL: %d stretches of sound for %d pauses: the music played on through a pause" % (len(parts), pauses))
        return 2
    if len(runs) != len(parts) and not free:
        print("FAIL: the clock ran %d times, the music sounded %d times" % (len(runs), len(parts)))
        return 2
    ok = True
    w = RATE // 10  # 100 ms windows
    margin = RATE * 15 // 1000  # past the 10 ms fades
    worst_start = worst_stop = worst_course = 0.0
    faults = 0
    starts = []
    for i, (a, b) in enumerate(parts):
        ms = lambda frame: frame * 1000 / RATE
        first = show_ms_at(left, a + margin, a + margin + w)
        last = show_ms_at(left, b - margin - w, b - margin)
        if first is None or last is None:
            print("FAIL: stretch %d (%.0f to %.0f ms of the capture) is no tone" % (i + 1, ms(a), ms(b)))
            ok = False
            continue
        first -= ms(margin + w / 2)
        last += ms(margin + w / 2)
        if free:
            # Free of the slides, the music is held only by the pauses: the
            # run it began with and the stop it ended at are the nearest.
            run = nearest(runs, first)
            later = [r for r in runs if r > run + 200]
            due_end = nearest(later, last) if i + 1 < len(parts) else nearest(stops, last)
            if run is None or due_end is None:
                print("FAIL: stretch %d has no run of the clock near it" % (i + 1))
                ok = False
                continue
        else:
            run = runs[i]
            due_end = runs[i + 1] if i + 1 < len(runs) else last_stop
        began = first - run
        stopped = last - due_end
        # The course inside the stretch: every 250 ms the tone is where its
        # start and the frames since put it.
        course = 0.0
        for c in range(a + margin, b - margin - w, RATE // 4):
            at = show_ms_at(left, c, c + w)
            if at is not None:
                course = max(course, abs(at - ms(w / 2) - (first + ms(c - a))))
        worst_start = max(worst_start, abs(began))
        worst_stop = max(worst_stop, abs(stopped))
        worst_course = max(worst_course, course)
        fault = fade_fault(left, b)
        # Free-running music stops where the show was held; the show may stand
        # further on (at the frame it drew next, far on when loaded), which
        # the music follows when it goes on: only its start is judged.
        late = not free and (stopped > 50 + SLACK or stopped < -40 - SLACK)
        off = abs(began) > (FREE_START_MS if free else 40 + SLACK)
        bad = off or late or course > 10 + SLACK or fault is not None
        starts.append(began)
        print("%s stretch %d: heard from %.0f (the clock ran from %.0f: %+.1f ms) to %.0f (the show stood at %.0f: "
              "%+.1f ms), off its course by up to %.1f ms; %s" % (
                  "FAIL:" if bad else "ok:", i + 1, first, run, began, last, due_end, stopped, course,
                  "its fade: " + fault if fault else "faded cleanly"))
        if fault:
            faults += 1
        ok = ok and not bad
    print("worst: start %.1f ms, stop %.1f ms, course %.1f ms; %d of %d fades faulty" % (
        worst_start, worst_stop, worst_course, faults, len(parts)))
    if free and starts:
        drift = max(starts) - min(starts)
        print("%s the starts lie from %+.1f to %+.1f ms of the show's time: a drift of %.1f ms through %d pauses" % (
            "FAIL:" if drift > FREE_START_MS else "ok:", min(starts), max(starts), drift, len(starts) - 1))
        ok = ok and drift <= FREE_START_MS
    return 0 if ok else 1


def main(argv):
    cmd = argv[1] if len(argv) > 1 else ""
    if cmd == "tones" and len(argv) >= 4:
        tones(argv[2], [int(c) for c in argv[3:-1]], int(argv[-1]))
        return 0
    if cmd == "wait" and len(argv) == 5:
        return wait(argv[2], argv[3], float(argv[4]))
    if cmd == "position" and len(argv) == 3:
        print(describe(argv[2]))
        return 0
    if cmd == "check" and len(argv) in (6, 7) and argv[6:] in ([], ["free"]):
        return check(argv[2], argv[3], float(argv[4]), int(argv[5]), argv[6:] == ["free"])
    print(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
