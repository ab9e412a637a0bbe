"""The text UI's event loop at a real terminal (tmux): it turns mouse reporting on and keys no
longer echo; a resize reaches the first screen face; an interrupt ends the loop, and the terminal
is given back as it was (modes, mouse reporting, cursor), also when SIGTERM ends the program.
Start-up builds the GUI without touching the terminal; the colour depth follows COLORTERM/TERM."""
import os
import re
import tempfile
import time

from tmux_session import Session
from zeltest import ZEL, check, finish

tmp = tempfile.mkdtemp(prefix="zel-gui-")
script = os.path.join(tmp, "loop.zel")
with open(script, "w") as f:
    f.write("Zel []\n"
            "print [\"before\" system/view/screens/1/size]\n"
            "r: system/view/platform/do-event-loop false\n"
            "print [\"after\" system/view/screens/1/size]\n")
plain = os.path.join(tmp, "plain.zel")
with open(plain, "w") as f:
    f.write("Zel []\nprint [\"sum\" 1 + 2 system/view/screens/1/size TUI-helpers/check-color-support]\n")
pid_file = os.path.join(tmp, "pid")


def shell(s, command):
    s.type(command)
    s.keys("Enter")


def stty(s, name):
    """The terminal's mode as stty saves it, read through the shell."""
    path = os.path.join(tmp, name)
    shell(s, f"stty -g > {path}; echo saved-{name}")
    s.wait_for(rf"^saved-{name}")
    with open(path) as f:
        return f.read().strip()


def start_loop(s):
    if os.path.exists(pid_file):
        os.unlink(pid_file)
    shell(s, f"clear; sh -c 'echo $$ > {pid_file}; exec {ZEL} {script}'")
    s.wait_for(r"^before 80x24")
    deadline = time.time() + 10
    while time.time() < deadline and s.flags()["mouse_any_flag"] != 1:
        time.sleep(0.05)
    with open(pid_file) as f:
        return int(f.read())


def ended(s):
    s.wait_for(r"^\$ ?$")


resting = {"mouse_any_flag": 0, "mouse_sgr_flag": 0, "alternate_on": 0, "cursor_flag": 1}

with Session(width=80, height=24) as s:
    before = stty(s, "before")

    # Start-up and a script that prints: no mode changes.
    shell(s, f"clear; {ZEL} {plain}")
    s.wait_for(r"^sum 3 80x24 2$")
    ended(s)
    check(s.flags() == resting, f"modes after a plain script: {s.flags()}")
    check(stty(s, "plain") == before, "stty after a plain script")

    # The loop: mouse reporting on; typed keys (Ctrl-C too) are keys, not echoed or signals.
    pid = start_loop(s)
    flags = s.flags()
    check(flags["mouse_any_flag"] == 1 and flags["mouse_sgr_flag"] == 1, f"loop modes: {flags}")
    s.type("abc")
    s.keys("C-c")
    s.inject(b"\x1b[<0;10;5M\x1b[<0;10;5m\x1b[")  # a click, and a sequence left unfinished
    time.sleep(0.3)
    s.inject(b"A")
    time.sleep(0.3)
    screen = s.screen()
    check("abc" not in screen and "after" not in screen, f"keys reached the loop: {screen!r}")

    s.resize(100, 30)
    time.sleep(0.3)
    os.kill(pid, 2)
    s.wait_for(r"^after 100x30")
    ended(s)
    check(s.flags() == resting, f"modes after an interrupt: {s.flags()}")
    check(stty(s, "interrupt") == before, "stty after an interrupt")

    # SIGTERM ends the program inside the loop: the terminal is given back all the same.
    s.resize(80, 24)
    pid = start_loop(s)
    os.kill(pid, 15)
    ended(s)
    check("after" not in s.screen(), "SIGTERM ended the program")
    check(s.flags() == resting, f"modes after SIGTERM: {s.flags()}")
    check(stty(s, "term") == before, "stty after SIGTERM")

# The colour depth per terminal: COLORTERM first, then "256" in either variable.
for colorterm, term, depth in [("truecolor", "xterm-256color", 4), (None, "xterm-256color", 2),
                               (None, "xterm", 4), ("24bit", "xterm", 4)]:
    env = {"TERM": term}
    if colorterm:
        env["COLORTERM"] = colorterm
    with Session(env=env) as s:
        shell(s, f"{ZEL} {plain}")
        screen = s.wait_for(r"^sum 3 ")
        m = re.search(r"^sum 3 80x24 (\d)$", screen, re.M)
        check(m and int(m.group(1)) == depth, f"colour depth for {env}: {screen!r}")

finish()
