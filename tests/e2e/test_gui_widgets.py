"""Windows of faces at a real terminal (tmux): painting, clicks, Escape, Tab order, timers,
printing from actors, dragging, double clicks, facet changes, nested modal loops and `quit`;
the terminal is given back as it was every time the last window closes."""
import os
import sys
import tempfile
import time

from tmux_session import Session
from zeltest import ZEL, check, finish

here = os.path.join(os.path.dirname(os.path.abspath(__file__)), "gui_widgets")
tmp = tempfile.mkdtemp(prefix="zel-widgets-")
resting = {"mouse_any_flag": 0, "mouse_sgr_flag": 0, "alternate_on": 0, "cursor_flag": 1}


def start(s, name, *args):
    s.type(f"clear; stty -g > {tmp}/before; {ZEL} {here}/{name}.zel {' '.join(args)}; "
           f"r=$?; stty -g > {tmp}/after; echo done-$r\n")
    deadline = time.time() + 10
    while time.time() < deadline and s.flags()["mouse_any_flag"] != 1:
        time.sleep(0.05)


def ended(s, name):
    screen = s.wait_for(r"^done-\d+")
    check(s.flags() == resting, f"{name}: modes after the last window: {s.flags()}")
    with open(f"{tmp}/before") as a, open(f"{tmp}/after") as b:
        check(a.read() == b.read(), f"{name}: stty after the last window")
    return screen


def at(s, text, wait=15.0):
    rows, lines = s.rows_with(text, wait)
    check(bool(rows), f"{text!r} on the screen: {lines!r}")
    if not rows:
        finish()
    return lines[rows[0]].index(text) + 1, rows[0] + 1


def click(s, text):
    x, y = at(s, text)
    s.inject(f"\x1b[<0;{x};{y}M\x1b[<0;{x};{y}m".encode())


s = Session(width=60, height=20)
try:
    # A click on OK runs its actor, which closes the window; the prompt follows below the UI.
    start(s, "ok")
    screen = s.wait_for(r"^  hi")
    lines = screen.split("\n")
    row = lines.index("  hi")
    check(lines[row + 2].startswith("    OK"), f"OK painted two rows below hi: {screen!r}")
    colours = s.tmux("capture-pane", "-p", "-e")
    check("\x1b[48;5;18m  OK  " in colours, f"OK on palette entry 18: {colours!r}")
    click(s, "OK")
    screen = ended(s, "click")
    check("after" in screen and screen.index("after") > screen.index("OK"), "prompt below the UI")

    # Escape closes every window of the screen.
    start(s, "esc")
    s.wait_for(r"^ two")
    s.inject(b"\x1b")
    check("closed 0" in ended(s, "esc"), "Escape closed every window")

    # The first focusable face holds the focus when the window shows; Tab and Shift-Tab walk the
    # focusable faces from there, into the panel; options/next overrides.
    start(s, "tab")
    s.wait_for(r"f4")
    for k in ["Tab", "Tab", "Tab", "Tab", "BTab"]:
        s.keys(k)
        time.sleep(0.2)
    s.inject(b"\x1b")
    screen = ended(s, "tab")
    check('order ["f1" "f2" "f3" "f1" "f2" "f1"]' in screen, f"focus order: {screen!r}")

    # Timer events; `print` in an actor lands above the UI, which is drawn again below it;
    # rate: none stops them.
    start(s, "timer")
    screen = s.wait_for(r"tick 3")
    lines = screen.split("\n")
    row = next(i for i, l in enumerate(lines) if l.startswith("tick 3"))
    check(any("T-face" in l for l in lines[row + 1:]), f"UI below the printed text: {screen!r}")
    screen = ended(s, "timer")
    check("tick 3\n" in screen and "tick 4" not in screen and "ticks 3" in screen,
          f"three ticks then the end: {screen!r}")

    # Dragging follows press, motions and release; two quick clicks: click then dbl-click.
    start(s, "drag")
    x, y = at(s, "D")
    s.inject(f"\x1b[<0;{x};{y}M".encode())
    time.sleep(0.1)
    s.inject(f"\x1b[<32;{x + 2};{y}M".encode())
    time.sleep(0.1)
    s.inject(f"\x1b[<32;{x + 4};{y + 1}M\x1b[<0;{x + 4};{y + 1}m".encode())
    time.sleep(0.3)
    # Both clicks in one write: on a loaded machine a screen capture between them can take
    # longer than the double-click interval.
    x, y = at(s, "C")
    press = f"\x1b[<0;{x};{y}M\x1b[<0;{x};{y}m".encode()
    s.inject(press + press)
    time.sleep(0.3)
    s.inject(b"\x1b")
    screen = ended(s, "drag")
    # The second click is a click, then a double click.
    check("log [6x2 click click dbl-click]" in screen, f"drag and clicks: {screen!r}")

    # A facet change in an actor repaints at once.
    start(s, "sync")
    s.wait_for(r"old")
    click(s, "B")
    screen = s.wait_for(r"^ new")
    time.sleep(0.2)
    screen = s.screen()
    check("added" in screen and "gone" not in screen, f"pane changes shown at once: {screen!r}")
    s.inject(b"\x1b")
    check("sync true" in ended(s, "sync"), "auto-sync? on")

    # Under view/no-sync the change waits for `show`, and auto-sync? comes back afterwards.
    start(s, "sync", "nosync")
    s.wait_for(r"old")
    click(s, "B")
    time.sleep(0.5)
    screen = s.screen()
    check(" old" in screen and "gone" in screen and "added" not in screen,
          f"no-sync repainted early: {screen!r}")
    click(s, "S")
    s.wait_for(r"^ new")
    time.sleep(0.2)
    screen = s.screen()
    check("added" in screen and "gone" not in screen, f"pane changes shown by show: {screen!r}")
    s.inject(b"\x1b")
    check("sync true" in ended(s, "no-sync"), "auto-sync? restored after view/no-sync")

    # A modal window runs a nested loop; closing it ends only that loop and enables the first.
    start(s, "modal")
    s.wait_for(r"M")
    click(s, "M")
    s.wait_for(r"^ X")
    click(s, "X")
    s.wait_for(r"nested-back true")
    check("inner false" in s.screen(), f"the first window disabled meanwhile: {s.screen()!r}")
    check(s.flags()["mouse_any_flag"] == 1, "the outer loop still owns the terminal")
    s.inject(b"\x1b")
    screen = ended(s, "modal")
    check("outer-back" in screen, "outer view returned")

    # stop-events ends the outermost loop with the window open: it is closed, and a second
    # view runs as the first did.
    start(s, "stop")
    screen = ended(s, "stop")
    check("after 0 none none" in screen and "second 0" in screen, f"stop-events: {screen!r}")

    # `quit` in an actor ends the program with the terminal restored.
    start(s, "quit")
    s.wait_for(r"Q")
    click(s, "Q")
    screen = ended(s, "quit")
    check("quitting" in screen and "not-here" not in screen, f"quit: {screen!r}")
finally:
    s.tmux("kill-server")
finish()
