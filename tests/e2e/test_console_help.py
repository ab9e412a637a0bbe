"""help and ? typed at a terminal of 80 and of 120 columns: the listings fit the width, a long line
is cut with "..." one column before the margin, and the prompt comes back after each answer."""
import os
import re
import tempfile

from tmux_session import Session
from zeltest import ZEL, check, finish

tmp = tempfile.mkdtemp(prefix="zel-help-")
env = {"HOME": tmp, "XDG_CONFIG_HOME": os.path.join(tmp, "config")}


def ask(s, text):
    """Types a command and answers the lines it printed before the prompt came back."""
    s.tmux("clear-history")
    s.type(text)
    s.keys("Enter")
    s.wait_for(r"\n>> ?\n*\Z")
    s.settle()
    history = s.tmux("capture-pane", "-p", "-S", "-")
    lines = [line.rstrip() for line in history.rstrip("\n").split("\n")]
    start = max(i for i, line in enumerate(lines) if line == ">> " + text)
    return lines[start + 1:-1]


for width in (80, 120):
    with Session(env=env, cwd=tmp, width=width, height=60) as s:
        s.type(ZEL)
        s.keys("Enter")
        s.wait_for(r"^>> ?$")

        usage = ask(s, "help")
        check(any(line.strip() == "Use HELP or ? to view built-in docs for functions, values"
                  for line in usage) and usage[-2].strip() == "quit   - Leave the Zel console",
              f"{width}: help prints its usage: {usage}")

        lines = ask(s, "help append")
        check(lines[:2] == ["USAGE:", "     APPEND series value"],
              f"{width}: help append starts with its usage: {lines[:3]}")
        check("     /dup         => Duplicate the inserted values." in lines,
              f"{width}: help append lists its refinements")

        # Searching by name: every line fits, a long description is cut with "...".
        lines = ask(s, "? to-l")
        local_file = [line for line in lines if line.lstrip().startswith("to-local-file")]
        check(len(local_file) == 1, f"{width}: ? to-l lists to-local-file: {lines}")
        check(all(len(line) <= width - 1 for line in lines),
              f"{width}: every line ends before the margin: {lines}")
        if local_file:
            line = local_file[0]
            full = "     to-local-file   native!       Converts a Zel file path to the local " \
                   "system file path"
            if len(full) > width - 1:
                check(line == full[:width - 4] + "...", f"{width}: cut with ...: {line!r}")
            else:
                check(line.startswith(full), f"{width}: shown whole: {line!r}")

        lines = ask(s, "? function!")
        ls = [line for line in lines if line.startswith("    ls ")]
        check(len(ls) == 1 and all(len(line) <= width - 1 for line in lines),
              f"{width}: ? function! lists ls within the width: {ls}")

        lines = ask(s, "? system")
        check(lines[:1] == ["SYSTEM is an object! with the following words and values:"],
              f"{width}: ? system shows the object: {lines[:2]}")
        check(all(len(line) <= width - 1 for line in lines), f"{width}: ? system fits")

        lines = ask(s, "about")
        check(len(lines) == 1 and re.match(r"^Zel 0\.1\.0 for Linux built \S+$", lines[0]),
              f"{width}: about: {lines}")

        s.type("q")
        s.keys("Enter")
        s.wait_for(r"^\$ ?$")

finish()
