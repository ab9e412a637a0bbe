"""Long lines pasted into the console at a terminal: at the end of the line and inside it, the
whole text arrives, the screen shows it wrapped as typed, and the paste takes time in proportion
to its length (a redraw per character made 50,000 characters take many seconds)."""
import os
import tempfile
import time

from tmux_session import Session
from zeltest import ZEL, check, finish

tmp = tempfile.mkdtemp(prefix="zel-paste-")
env = {"HOME": tmp, "XDG_CONFIG_HOME": os.path.join(tmp, "config")}
paste_file = os.path.join(tmp, "paste.txt")
LIMIT = 10  # seconds: generous, a paste of this size takes well under one


def paste(s, text):
    with open(paste_file, "w") as f:
        f.write(text)
    s.tmux("load-buffer", "-b", "paste", paste_file)
    s.tmux("paste-buffer", "-b", "paste", "-d")


def letters(n):
    return ("abcdefghijklmnopqrstuvwxyz" * (n // 26 + 1))[:n]


def check_result(s, what, started, n, line):
    try:
        screen = s.wait_for(rf"^{n}$", timeout=LIMIT)
    except AssertionError as e:
        check(False, f"{what}: no result within {LIMIT} s: {str(e)[-400:]}")
        return
    took = time.time() - started
    check(took < LIMIT, f"{what}: took {took:.1f} s")
    rows = [r.rstrip() for r in screen.rstrip("\n").split("\n")]
    at = rows.index(str(n))
    # The row above the result ends the line as an 80-column terminal wraps it.
    shown = ">> " + line
    tail = shown[len(shown) - len(shown) % 80:]
    check(rows[at - 1] == tail, f"{what}: last row {rows[at - 1]!r}, wanted {tail!r}")


with Session(env=env, cwd=tmp) as s:
    s.type(ZEL)
    s.keys("Enter")
    s.wait_for(r"^>> ?$")

    text = letters(50000)
    started = time.time()
    paste(s, 'print length? "' + text + '"\r')
    check_result(s, "pasted at the end", started, 50000, 'print length? "' + text + '"')

    s.type('print length? ""')
    s.keys("Left")
    s.wait_for(r'^>> print length\? ""$')
    text = letters(40000)
    started = time.time()
    paste(s, text)
    s.keys("Enter")
    check_result(s, "pasted inside the line", started, 40000, 'print length? "' + text + '"')

finish()
