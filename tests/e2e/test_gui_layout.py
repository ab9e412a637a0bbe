"""Windows built by the layout dialect at a real terminal (tmux): a text and a button placed in a
row, the alert box inside an 80-column screen, and a form with a tab panel, a group box and a
field placed in rows."""
import os
import time

from tmux_session import Session
from zeltest import ZEL, check, finish

here = os.path.join(os.path.dirname(os.path.abspath(__file__)), "gui_layout")


def start(s, name):
    s.type(f"clear; {ZEL} {here}/{name}.zel; echo done-$?\n")
    deadline = time.time() + 10
    while time.time() < deadline and s.flags()["mouse_any_flag"] != 1:
        time.sleep(0.05)


def row_of(s, text, wait=10.0):
    rows, lines = s.rows_with(text, wait)
    check(bool(rows), f"{text!r} on the screen: {lines!r}")
    if not rows:
        finish()
    return rows[0], lines


def click(s, x, y):
    s.inject(f"\x1b[<0;{x + 1};{y + 1}M\x1b[<0;{x + 1};{y + 1}m".encode())


s = Session(width=80, height=24)
try:
    # Text at 1x1 sized 10x1, button at 12x1 sized 5x1, in an 18x3 window; a click on OK closes it.
    start(s, "hi")
    y, lines = row_of(s, " hi")
    line = lines[y]
    check(line.startswith(" hi ") and line.index("hi") == 1, f"text at column 1: {line!r}")
    check(12 <= line.index("OK") <= 15, f"OK inside the button's cells 12..16: {line!r}")
    check(lines[y - 1].strip() == "" and lines[y + 1].strip() == "",
          f"one empty row above and below: {lines!r}")
    check(lines[y - 2] == "before", f"the window's first row follows the output: {lines!r}")
    click(s, line.index("OK"), y)
    screen = s.wait_for(r"^done-0")
    rows = screen.split("\n")
    check(rows.index("after") > y, f"the prompt comes back below the window: {screen!r}")

    # The alert's message and its OK button stay inside the 80-column screen; Escape closes it.
    start(s, "alert")
    y, lines = row_of(s, "Saved")
    x = lines[y].index("Saved")
    check(x == 36, f"message centred in a text of 76 cells: {lines[y]!r}")
    check(lines[y + 2].strip() == "OK" and 0 < lines[y + 2].index("OK") < 78,
          f"OK centred below the message: {lines!r}")
    s.inject(b"\x1b")
    screen = s.wait_for(r"^done-0")
    check("after" in screen, f"alert returned: {screen!r}")

    # A form: a tab panel, then a group box, then a field and a button, each row below the last.
    start(s, "form")
    y, lines = row_of(s, " name")
    check(lines[y].startswith(" name       Done"), f"field at 1, button at 12: {lines[y]!r}")
    inside, _ = row_of(s, "inside")
    check(lines[inside].index("inside") == 2, f"group box content one cell in: {lines[inside]!r}")
    check(inside < y, f"the group box row is above the field row: {lines!r}")
    page = [i for i, l in enumerate(lines) if "page " in l]
    check(bool(page) and page[0] < inside and lines[page[0]].index("page ") == 3,
          f"a tab page's text inside the tab panel, above the group box: {lines!r}")
    click(s, lines[y].index("Done"), y)
    screen = s.wait_for(r"^done-0")
    check("after" in screen, f"form closed by its button: {screen!r}")
finally:
    s.tmux("kill-server")
finish()
