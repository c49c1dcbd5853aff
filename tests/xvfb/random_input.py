#!/usr/bin/env python3
"""The plan of a random-input run of the player: rounds of random actions,
each round ending one way out (Esc, the exit corner, SIGTERM).

  random_input.py SEED [--actions N] [--rounds R]

Prints one action a line; kavplay_random_input.sh carries them out with
xdotool. Points are window-relative, in ten-thousandths of the window's
width and height (a drag may end off the window, below 0 or above
10000), so one seed gives the same plan at any window size.

  round N                 a new player; the actions up to the next "exit"
  key KEYS                xdotool key (KEYS may be a chord such as ctrl+p)
  burst N KEYS            the key N times without a pause
  move X Y                pointer to a point of the window
  click B X Y             button B (1 left, 2 middle, 3 right) at a point
  dclick X Y              left double click
  drag X1 Y1 X2 Y2 STEPS  left button down, STEPS moves, up
  hold X1 Y1 KEYS X2 Y2   left button down, a key, up somewhere else
  wheel B N X Y MOD       N wheel steps (button 4 up, 5 down); MOD "-" or ctrl
  leave                   pointer off the window
  wait MS                 a rest
  check                   the player must still answer (the driver probes)
  exit escape|corner|term how this round's player is asked to end

Esc is kept for the ends of rounds (it quits the player), and random points
keep out of the top right corner, where the video bar's exit button is.
"""
import argparse
import random

# Keys the player acts on (pause, previous/next slide, first/last, help and
# the media keys), and a few it must let pass.
KEYS = (["space", "Right", "Left", "Up", "Down", "Home", "End", "Prior", "Next", "F1", "ctrl+p", "Pause"] * 3 +
        ["XF86AudioPlay", "XF86AudioNext", "XF86AudioPrev", "XF86AudioStop", "XF86Back", "XF86Forward"] * 2 +
        ["Return", "Tab", "a", "shift+Right", "alt+Left", "ctrl+End", "F5", "BackSpace"])

# Weights of the action kinds.
KINDS = [("key", 32), ("burst", 3), ("move", 14), ("click", 14), ("dclick", 5), ("drag", 9), ("hold", 2),
         ("wheel", 12), ("bar", 8), ("leave", 2), ("wait", 2)]


def point(rng, bar=False):
    """A window point off the exit corner; bar=True keeps to the bottom
    strip, where the navigation bar stands."""
    while True:
        x = rng.randrange(0, 10000)
        y = rng.randrange(9400, 10000) if bar else rng.randrange(0, 10000)
        if not (x >= 9300 and y <= 900):
            return x, y


def action(rng):
    kind = rng.choices([k for k, _ in KINDS], [w for _, w in KINDS])[0]
    if kind == "key":
        return "key " + rng.choice(KEYS)
    if kind == "burst":
        return "burst %d %s" % (rng.randrange(3, 12), rng.choice(KEYS))
    if kind == "hold":
        return "hold %d %d %s %d %d" % (point(rng, bar=rng.random() < 0.5) + (rng.choice(KEYS),) + point(rng))
    if kind == "move":
        return "move %d %d" % point(rng)
    if kind == "click":
        return "click %d %d %d" % ((rng.choice([1, 1, 1, 3, 2]),) + point(rng))
    if kind == "dclick":
        return "dclick %d %d" % point(rng)
    if kind == "drag":
        # Now and then the button comes up off the window.
        end = point(rng) if rng.random() < 0.8 else (rng.randrange(-1500, 11500), rng.randrange(-1500, 11500))
        return "drag %d %d %d %d %d" % (point(rng) + end + (rng.randrange(1, 8),))
    if kind == "wheel":
        x, y = point(rng)
        return "wheel %d %d %d %d %s" % (rng.choice([4, 5]), rng.choice([1, 1, 2, 3, 10]), x, y, rng.choice(["-", "-", "ctrl"]))
    if kind == "bar":
        # The bar's buttons, time track and volume slider: a click or a drag
        # along the strip.
        if rng.random() < 0.5:
            return "click 1 %d %d" % point(rng, bar=True)
        return "drag %d %d %d %d %d" % (point(rng, bar=True) + point(rng, bar=True) + (rng.randrange(2, 10),))
    if kind == "leave":
        return "leave"
    return "wait %d" % rng.choice([300, 800, 1500])


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("seed", type=int)
    ap.add_argument("--actions", type=int, default=100, help="actions a round")
    ap.add_argument("--rounds", type=int, default=3)
    args = ap.parse_args()
    rng = random.Random(args.seed)
    ends = ["escape", "corner", "term"]
    for r in range(args.rounds):
        print("round %d" % (r + 1))
        for i in range(args.actions):
            print(action(rng))
            if i % 25 == 24:
                print("check")
        print("check")
        print("exit " + ends[r % len(ends)])


if __name__ == "__main__":
    main()
