"""How a console session ends and what it leaves behind, at a terminal: Ctrl-C while something
runs ends zel with 130 (the history saved, the terminal cooked again) while Ctrl-C at the prompt
still quits with 0; Ctrl-C and Ctrl-D at a script's `ask`; the window title put back on every way
out; the configuration folder made only when saved, never under a home folder that does not
exist; and the line editor's cursor after a removal at a row's end and after the window narrows."""
import os
import re
import signal
import tempfile
import time

from tmux_session import Session
from zeltest import ZEL, check, finish

tmp = tempfile.mkdtemp(prefix="zel-session-")
config = os.path.join(tmp, "config")
env = {"HOME": tmp, "XDG_CONFIG_HOME": config}
history_file = os.path.join(config, "Zel-Console", "console-cfg.zel")


def script(name, text):
    path = os.path.join(tmp, name)
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)
    return path


def enter(s, text):
    s.type(text)
    s.keys("Enter")


def start(s, args=""):
    """Starts zel; without a script, waits for the prompt of this run (earlier runs' prompts may
    still be on the screen)."""
    if not args:
        shell(s, "clear")
    enter(s, f"{ZEL} {args}".strip())
    if not args:
        s.wait_for(r"^>> ?$")


marks = iter(range(1, 1000000))


def shell(s, command):
    """Runs a shell command once the shell is back; answers its output lines. The command finds
    the exit code of the program that ended before in $r."""
    n = next(marks)
    s.wait_for(r"(^|\^C)\$ ?$")
    enter(s, f"r=$?; echo begin-{n}; {command}; echo end-{n}")
    screen = s.wait_for(rf"^end-{n}$")
    return screen.split(f"\nbegin-{n}\n")[-1].split(f"\nend-{n}\n")[0].split("\n")


def exit_code(s):
    """The exit code of the program that ended."""
    return int(shell(s, 'echo "$r"')[0])


def cooked(s):
    modes = shell(s, "stty -a | tr ' ' '\\n' | grep -x -e icanon -e echo -e isig | sort")
    return modes == ["echo", "icanon", "isig"]


def title(s):
    return s.tmux("display-message", "-p", "#{pane_title}").strip()


loop = script("loop.zel", 'Zel []\nprint "ready"\nforever []\n')
asking = script("ask.zel", 'Zel []\nx: ask "name? "\nprint ["got" mold x]\n'
                           'y: input\nprint ["then" mold y]\n')

# Ctrl-C during evaluation at the console: 130, the history saved, the terminal cooked again.
with Session(env=env) as s:
    start(s)
    check(not os.path.exists(os.path.join(config, "Zel-Console")),
          "no configuration folder while nothing was saved")
    enter(s, "forever []")
    time.sleep(0.3)
    s.keys("C-c")
    check(exit_code(s) == 130, "Ctrl-C during evaluation: exit code 130")
    check(cooked(s), "the terminal is cooked after the interrupt")
    saved = open(history_file, encoding="utf-8").read() if os.path.exists(history_file) else ""
    check('"forever []"' in saved, f"the history saved after the interrupt: {saved!r}")

    # At the prompt Ctrl-C still quits, with 0.
    start(s)
    s.keys("C-c")
    check(exit_code(s) == 0, "Ctrl-C at the prompt quits with 0")

    # A script interrupted at the terminal.
    start(s, loop)
    s.wait_for(r"^ready$")
    s.keys("C-c")
    check(exit_code(s) == 130, "a script interrupted: exit code 130")
    check(cooked(s), "the terminal is cooked after the script's interrupt")

# At a script's `ask`: Ctrl-C interrupts; Ctrl-D on an empty line is the end of input (an empty
# text), after which the script goes on.
with Session(env=env) as s:
    start(s, asking)
    s.wait_for(r"^name\? ?$")
    s.keys("C-c")
    check(exit_code(s) == 130, "Ctrl-C at ask: exit code 130")
    check("got" not in s.screen(), "Ctrl-C at ask gives the script no line")
    check(cooked(s), "the terminal is cooked after Ctrl-C at ask")

    shell(s, "clear")
    start(s, asking)
    s.wait_for(r"^name\? ?$")
    s.keys("C-d")
    s.wait_for(r'^got ""$')
    enter(s, "z")
    s.wait_for(r'^then "z"$')
    check(exit_code(s) == 0, "Ctrl-D at ask: the script goes on and ends with 0")

# With the output redirected, `ask` still shows its prompt and the keys at the terminal, and the
# output file holds only what the script printed.
with Session(env=env) as s:
    redirected = os.path.join(tmp, "asked.txt")
    start(s, f"{asking} > {redirected}")
    s.wait_for(r"^name\? ?$")
    s.type("héllo")
    s.wait_for(r"^name\? héllo$")
    s.keys("Enter")
    enter(s, "z")
    check(exit_code(s) == 0, "ask with the output redirected: exit code 0")
    with open(redirected, encoding="utf-8") as f:
        written = f.read()
    check(written == 'got "héllo"\nthen "z"\n', f"only the printed text is in the file: {written!r}")
    check(cooked(s), "the terminal is cooked after ask with the output redirected")

# The window title is put back on every way out.
fault = script("fault.zel", 'Zel []\nprint "ready"\nforever []\n')
failing = script("failing.zel", "Zel []\n1 / 0\n")
with Session(env=env) as s:
    enter(s, r"printf '\033]2;before\007'")
    s.settle()
    check(title(s) == "before", f"the shell's title: {title(s)!r}")

    def fault_signal(s):
        s.wait_for(r"^ready$")
        shell = s.tmux("display-message", "-p", "#{pane_pid}").strip()
        with open(f"/proc/{shell}/task/{shell}/children") as f:
            child = int(f.read().split()[0])
        os.kill(child, signal.SIGSEGV)

    ways_out = [
        ("q", "", lambda s: enter(s, "q"), 0),
        ("Ctrl-D", "", lambda s: s.keys("C-d"), 0),
        ("Ctrl-C at the prompt", "", lambda s: s.keys("C-c"), 0),
        ("Ctrl-C during evaluation", "",
         lambda s: (enter(s, "forever []"), time.sleep(0.3), s.keys("C-c")), 130),
        ("an error that ends a script", failing, lambda s: None, 1),
        ("a runtime fault", fault, fault_signal, 1),
    ]
    for name, args, leave, code in ways_out:
        start(s, args)
        if not args:
            check(title(s) == "Zel Console", f"{name}: the console's title: {title(s)!r}")
        leave(s)
        check(exit_code(s) == code, f"{name}: exit code {code}")
        check(title(s) == "before", f"{name}: the title put back: {title(s)!r}")

# A home folder that does not exist (or none at all): nothing is made, nothing is reported, and
# the console works without keeping its history.
nowhere = os.path.join(tmp, "nowhere", "home")
for name, home in [("HOME pointing nowhere", {"HOME": nowhere}), ("no HOME", {"HOME": ""})]:
    with Session(env=home) as s:
        if not home["HOME"]:
            enter(s, "unset HOME")
        start(s)
        enter(s, "1 + 1")
        s.wait_for(r"^== 2$")
        enter(s, "q")
        check(exit_code(s) == 0, f"{name}: q ends with 0")
        screen = s.screen()
        check("Error" not in screen, f"{name}: nothing reported: {screen!r}")
check(not os.path.exists(os.path.join(tmp, "nowhere")), "nothing made under a missing home")

# The line editor. Backspace or Delete leaving the caret in the last column of a full row: the
# cursor stands on the caret, and the next key lands where the caret is.
for removal, keys in [("Backspace", ["Left", "BSpace"]), ("Delete", ["Left", "Left", "DC"])]:
    with Session(env=env, width=20, height=10) as s:
        start(s)
        s.type("abcdefghijklmnopqr")  # the prompt and 17 characters fill the first row
        s.keys(*keys)
        s.settle()
        x, _ = s.cursor()
        check(x == 19, f"{removal}: the cursor on the caret in the last column, at {x}")
        s.keys("Left")
        s.type("X")
        lines = [line.rstrip() for line in s.settle().rstrip("\n").split("\n")]
        check(lines[-2:] == [">> abcdefghijklmnoXp", "r"], f"{removal}: then Left and X: {lines}")

# After the window narrows, the line is redrawn at the new width with nothing of its old layout
# above it, and typing goes on at the caret.
with Session(env=env, width=60, height=14) as s:
    start(s)
    enter(s, 'print "above"')
    s.type("x" * 40 + "y" * 40)
    s.settle()
    s.tmux("resize-window", "-x", "40", "-y", "14")
    s.settle()
    s.type("z")
    lines = [line.rstrip() for line in s.settle().rstrip("\n").split("\n")]
    at = lines.index("above")
    shown = ">> " + "x" * 40 + "y" * 40 + "z"
    wanted = [shown[i:i + 40] for i in range(0, len(shown), 40)]
    check(lines[at + 1:] == wanted, f"the line after the window narrowed: {lines[at + 1:]}")
finish()
