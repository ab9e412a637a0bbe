"""The widget kinds at a real terminal (tmux), in one window of hand-made faces: a field edited
with the caret, a password field, a button pressed with Space and shown in reverse video when
focused, a group box, rich text, an image in half blocks (24-bit and palette colours), and, when
the TUI helpers are there, progress bars, text lists, check boxes and radio buttons."""
import os
import re
import time

from tmux_session import Session
from zeltest import ZEL, check, finish

here = os.path.join(os.path.dirname(os.path.abspath(__file__)), "gui_kinds")
script = os.path.join(here, "kinds.zel")


def start(s):
    s.type(f"clear; {ZEL} {script}; echo done-$?\n")
    return origin(s)


def origin(s, wait=15.0):
    """The screen row and column of the window's top-left, found by the password field."""
    deadline = time.monotonic() + wait
    while time.monotonic() < deadline:
        for y, line in enumerate(s.lines()):
            if "******" in line:
                return line.index("******") - 10, y
        time.sleep(0.05)
    check(False, f"the window never showed: {s.screen()!r}")
    finish()


def row(s, y, top):
    return s.lines()[top + y].ljust(80)


def colours(s):
    return s.tmux("capture-pane", "-p", "-e")


def settle(s, test, what, wait=5.0):
    deadline = time.monotonic() + wait
    while not test() and time.monotonic() < deadline:
        time.sleep(0.05)
    check(test(), what)


s = Session(width=60, height=16, env={"COLORTERM": "truecolor"})
try:
    x0, top = start(s)
    helpers = "Chk" in s.screen() or "[#####" in s.screen()
    # The focused field shows the cursor after its text.
    settle(s, lambda: s.cursor() == (x0 + 3, top), f"cursor after 'ab': {s.cursor()}")
    s.type("cd")
    s.keys("Left", "BSpace", "Right")
    settle(s, lambda: row(s, 0, top)[x0 + 1:x0 + 7].rstrip() == "abd",
           f"field edited: {row(s, 0, top)!r}")
    settle(s, lambda: s.cursor() == (x0 + 4, top), f"cursor after 'abd': {s.cursor()}")
    s.type("wxyz")
    settle(s, lambda: row(s, 0, top)[x0 + 1:x0 + 7] == "abdwxy",
           f"a full field takes no more: {row(s, 0, top)!r}")
    check(row(s, 0, top)[x0 + 10:x0 + 16] == "******", "one star per character of the password")

    # Group box: round corners, title from its second column; rich text; image cells.
    check(row(s, 2, top)[x0:x0 + 5] == "\u256dGrp\u2500", f"group box top: {row(s, 2, top)!r}")
    check(row(s, 4, top)[x0:x0 + 12] == "\u2570" + "\u2500" * 10 + "\u256f",
          f"group box bottom: {row(s, 4, top)!r}")
    check(row(s, 2, top)[x0 + 14:x0 + 17] == "abc", f"rich text: {row(s, 2, top)!r}")
    c = colours(s)
    check(re.search(r"a\x1b\[1mbc", c) is not None, f"'bc' bold: {c!r}")
    check("\x1b[38;2;0;0;255m" in c and "48;2;255;0;0m\u2584" in c,
          f"24-bit half block: {c!r}")
    check(row(s, 3, top)[x0 + 15] == " ", "transparent over opaque is a blank cell")

    if helpers:
        check(row(s, 6, top)[x0:x0 + 12] == "[#####     ]", f"progress 0.5: {row(s, 6, top)!r}")
        check(row(s, 6, top)[x0 + 14:x0 + 26] == "[          ]", "progress 1e-17")
        check(row(s, 6, top)[x0 + 28:x0 + 40] == "[##########]", "progress 2")
        check(row(s, 7, top)[x0:x0 + 12] == "[          ]", "progress without a number")
        check(row(s, 8, top)[x0:x0 + 5] == "\u2610 Chk", f"check: {row(s, 8, top)!r}")
        check(row(s, 8, top)[x0 + 12:x0 + 18].rstrip() == "\u2610",
              f"a check without text shows its mark only: {row(s, 8, top)!r}")
        check("none" not in row(s, 8, top), "no 'none' in a check without text")
        check(row(s, 9, top)[x0:x0 + 4] == "\u25c9 R1", f"radio: {row(s, 9, top)!r}")
        # An unfocused list shows no selection.
        check("\x1b[7mx" not in c and "\x1b[7my" not in c, "no row highlighted without focus")
        # Tab to the list; Down seven times scrolls it by 5; Up once; a click on its third row.
        s.keys("Tab", "Tab")
        for _ in range(7):
            s.keys("Down")
        settle(s, lambda: row(s, 4, top)[x0 + 26:x0 + 32] == "item 8", "list scrolled by 5")
        s.keys("Up")
        settle(s, lambda: "\x1b[7mitem 7" in colours(s), "item 7 highlighted")
        x, y = x0 + 27, top + 5  # 1-based: the list's third row
        s.inject(f"\x1b[<0;{x};{y}M\x1b[<0;{x};{y}m".encode())
        settle(s, lambda: "\x1b[7mitem 8" in colours(s), "the click selected item 8")
        # Check and radio: Space toggles; setting a radio clears its siblings only.
        s.keys("Tab", "Space")
        settle(s, lambda: row(s, 8, top)[x0:x0 + 5] == "\U0001f795 Chk",
               f"check toggled: {row(s, 8, top)!r}")
        s.keys("Tab", "Tab", "Tab", "Space")
        settle(s, lambda: row(s, 9, top)[x0 + 12:x0 + 16] == "\u25c9 R2", "radio set")
        check(row(s, 9, top)[x0:x0 + 4] == "\u25cb R1", f"sibling cleared: {row(s, 9, top)!r}")
        check(row(s, 9, top)[x0 + 24:x0 + 28] == "\u25c9 R3", "a radio of another pane stays")
    else:
        s.keys("Tab")
    # The focused button is in reverse video, and Space presses it.
    s.keys("Tab")
    settle(s, lambda: re.search(r"\x1b\[7m[^\x1b]*OK", colours(s)) is not None,
           "focused button in reverse video")
    s.keys("Space")
    screen = s.wait_for(r"^done-0")
    if helpers:
        check("select 8 change 8" in screen.replace("\n", " "), f"list events: {screen!r}")
        check("ok \"abdwxy\"" in screen, f"OK printed the text: {screen!r}")
        check("data [true none false true true 8]" in screen, f"data: {screen!r}")
    else:
        check('log [ok "abdwxy"]' in screen, f"OK printed the text: {screen!r}")
finally:
    s.tmux("kill-server")

# Without COLORTERM, TERM=xterm-256color gives palette colours.
s = Session(width=60, height=16)
try:
    x0, top = start(s)
    settle(s, lambda: "48;5;196m\u2584" in colours(s) and "38;5;21m" in colours(s),
           f"palette half block: {colours(s)!r}")
    s.keys("Escape")
    s.wait_for(r"^done-0")
finally:
    s.tmux("kill-server")
finish()
