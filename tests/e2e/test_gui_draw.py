"""The file and folder requesters and the help of an image at a real terminal (tmux, 100x40):
the requester shows the title it is given, the folder, its frames and buttons; Cancel and an
empty "Selected:" answer none; a name given shows in "Selected:" and comes back joined to the
folder; the lists open folders with Enter and copy a file into "Selected:"; `? img` shows the
image in a window that Escape closes, giving the prompt back."""
import os
import re
import tempfile
import time

from tmux_session import Session
from zeltest import ZEL, check, finish

repo = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
# The requesters' lists and the image's cells are painted by the widget kinds.
kinds = os.path.exists(os.path.join(repo, "gui", "terminal", "widget_kinds.cpp"))

fixture = tempfile.mkdtemp(prefix="zel-requests-")
os.makedirs(f"{fixture}/sub")
for name in ["a.txt", "b.zel", "sub/inner.txt"]:
    with open(f"{fixture}/{name}", "w") as f:
        f.write("x")
scripts = tempfile.mkdtemp(prefix="zel-requests-script-")
script = f"{scripts}/requests.zel"
with open(script, "w") as f:
    f.write(f"""Zel []
change-dir %{fixture}/
print ["result" mold request-file/title "Pick one:"]
print ["result" mold request-file]
print ["result" mold request-file/file/save "a.txt"]
print ["result" mold request-file/filter ["Text" %.txt]]
print ["result" mold request-dir/title "Folder:"]
print "done"
""")


def shown(s, text, wait=10.0):
    """The 1-based column and row of a text once it is on the screen and the UI takes clicks: its
    last row, as a window closed earlier leaves its rows above."""
    deadline = time.monotonic() + wait
    while True:
        lines = s.lines()
        rows = [i for i, l in enumerate(lines) if text in l]
        if (rows and s.flags()["mouse_any_flag"] == 1) or time.monotonic() > deadline:
            break
        time.sleep(0.05)
    check(bool(rows), f"{text!r} on the screen: {lines!r}")
    if not rows:
        finish()
    return lines[rows[-1]].index(text) + 1, rows[-1] + 1


def click(s, text):
    x, y = shown(s, text)
    s.inject(f"\x1b[<0;{x};{y}M\x1b[<0;{x};{y}m".encode())


def result(s, n):
    """The n-th result line the script printed (from 1)."""
    deadline = time.monotonic() + 10
    while True:
        # Each window scrolls the earlier results up: read the history too.
        found = re.findall(r"^result (.*)$", s.tmux("capture-pane", "-p", "-S", "-"), re.M)
        if len(found) >= n or time.monotonic() > deadline:
            break
        time.sleep(0.05)
    check(len(found) >= n, f"result {n} printed: {s.screen()!r}")
    return found[n - 1] if len(found) >= n else None


s = Session(width=100, height=40)
try:
    s.type(f"clear; {ZEL} {script}\n")

    # The title given is shown (not the default), with the folder, frames and buttons.
    shown(s, "Pick one:")
    screen = s.screen()
    for label in [fixture, " Folders ", " Files", "Selected:", " Open ", " Cancel"]:
        check(label in screen, f"{label!r} in the requester: {screen!r}")
    check("Please choose a file:" not in screen, "the title given replaces the default")
    click(s, "Cancel")
    check(result(s, 1) == "none", "Cancel answers none")

    # Without a title the default shows; Open with an empty "Selected:" answers none.
    shown(s, "Please choose a file:")
    click(s, " Open ")
    check(result(s, 2) == "none", "an empty Selected: answers none")

    # A name given shows in "Selected:"; the save button answers it joined to the folder.
    # The rows of the requester closed before stay above until this one's frame arrives.
    shown(s, "Selected:")
    deadline = time.monotonic() + 10
    named = lambda: any(re.search(r"Selected: +a\.txt", line) for line in s.lines())
    while not named() and time.monotonic() < deadline:
        time.sleep(0.05)
    check(named(), f"the name: {s.screen()!r}")
    click(s, " Save ")
    check(result(s, 3) == f"%{fixture}/a.txt", f"the saved name: {result(s, 3)!r}")

    if kinds:
        # The filter given keeps only its suffixes; Down and Enter open the sub-folder, Right
        # goes to the files, whose Enter copies the file into "Selected:".
        shown(s, "a.txt")
        screen = s.screen()
        check("../" in screen and "sub/" in screen, f"the folders listed: {screen!r}")
        check("b.zel" not in screen, f"the filter hides b.zel: {screen!r}")
        s.keys("Down", "Enter")
        shown(s, "inner.txt")
        check(f"{fixture}/sub" in s.screen(), f"the folder opened: {s.screen()!r}")
        s.keys("Right", "Enter")
        s.wait_for(r"Selected: +inner\.txt")
        click(s, " Open ")
        check(result(s, 4) == f"%{fixture}/sub/inner.txt", f"the file: {result(s, 4)!r}")

        shown(s, "Folder:")
        s.keys("Down", "Enter")
        s.wait_for(r"Selected: +" + re.escape(f"{fixture}/sub"))
        click(s, " OK ")
        check(result(s, 5) == f"%{fixture}/sub/", f"the folder: {result(s, 5)!r}")
    else:
        print("the lists' keys are not checked: this build has no widget kinds")
        shown(s, "Please choose a file:")
        click(s, "Cancel")
        check(result(s, 4) == "none", "Cancel answers none")
        shown(s, "Folder:")
        check(" OK " in s.screen(), f"the folder requester's button: {s.screen()!r}")
        click(s, "Cancel")
        check(result(s, 5) == "none", "Cancel answers none")
    s.wait_for(r"^done")
finally:
    s.close()

# `? img` at the console shows the image in a window; Escape gives the prompt back.
s = Session(width=100, height=40)
try:
    s.type(f"{ZEL}\n")
    s.wait_for(r"^>>")
    s.type("img: make image! [4x4 255.0.0] ()\n")
    s.type("? img\n")
    deadline = time.monotonic() + 10
    while s.flags()["mouse_any_flag"] != 1 and time.monotonic() < deadline:
        time.sleep(0.05)
    check(s.flags()["mouse_any_flag"] == 1, "a window runs its loop")
    if kinds:
        # The loop may start a moment before the first frame reaches the terminal.
        deadline = time.monotonic() + 10
        colours = s.tmux("capture-pane", "-p", "-e")
        while "5;196m" not in colours and time.monotonic() < deadline:
            time.sleep(0.05)
            colours = s.tmux("capture-pane", "-p", "-e")
        check("5;196m" in colours, f"the image's red cells: {colours!r}")
    s.inject(b"\x1b")
    deadline = time.monotonic() + 10
    while s.flags()["mouse_any_flag"] != 0 and time.monotonic() < deadline:
        time.sleep(0.05)
    check(s.flags()["mouse_any_flag"] == 0, "Escape closed the window")
    s.type("1 + 2\n")
    screen = s.wait_for(r"^== 3")
    check(screen.count(">> ") >= 3, f"the prompt came back: {screen!r}")
finally:
    s.close()

finish()
