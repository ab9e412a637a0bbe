"""The console at a terminal, as a person uses it: typing and editing keys, history, completion of
words, paths and files, the continuation prompt, Escape, Ctrl-C and Ctrl-D, the terminal mode
after quitting, and the history kept across two sessions."""
import os
import re
import tempfile
import time

from tmux_session import Session
from zeltest import ZEL, check, finish

tmp = tempfile.mkdtemp(prefix="zel-terminal-")
config = os.path.join(tmp, "config")
env = {"HOME": tmp, "XDG_CONFIG_HOME": config}
work = os.path.join(tmp, "work")
os.makedirs(os.path.join(work, "sub"))
for name in ("alpha.txt", "sub/file-one.zel", "sub/file-two.zel"):
    open(os.path.join(work, name), "w").close()
history_file = os.path.join(config, "Zel-Console", "console-cfg.zel")


def start(s):
    s.type(ZEL)
    s.keys("Enter")
    s.wait_for(r"^>> ?$")


def enter(s, text):
    s.type(text)
    s.keys("Enter")


def last_lines(s, n):
    return [line.rstrip() for line in s.settle().rstrip("\n").split("\n")][-n:]


def expect(s, lines, what):
    """The screen's last non-blank lines (trailing blanks aside, as the pane shows them)."""
    lines = [line.rstrip() for line in lines]
    got = last_lines(s, len(lines))
    check(got == lines, f"{what}: wanted {lines}, screen ends with {got}")


with Session(env=env, cwd=work) as s:
    start(s)
    screen = s.screen()
    check("--== Zel 0.1.0 ==--\nType HELP for starting information.\n\n>>" in screen,
          f"banner and prompt: {screen!r}")

    enter(s, "1 + 2")
    expect(s, [">> 1 + 2", "== 3", ">> "], "a sum")

    # Editing: Home, Delete, End, Backspace, the arrows and insertion inside the line.
    s.type("12 + 5")
    s.keys("Home", "DC", "End", "BSpace")
    s.type("40")
    s.keys("Left", "Left", "Left")
    s.type("0")
    expect(s, [">> 2 +0 40"], "the edited line")
    s.keys("BSpace", "Enter")
    expect(s, [">> 2 + 40", "== 42", ">> "], "the edited line evaluated")

    # Ctrl-A, Ctrl-E and Ctrl-K.
    s.type("9 * 9 junk")
    s.keys("C-a", "Right", "Right", "Right", "Right", "Right", "C-k", "C-e")
    s.type(" + 1")
    s.keys("Enter")
    expect(s, ["== 82", ">> "], "Ctrl-A, Ctrl-K, Ctrl-E")

    # History: Up recalls the newest line first; Down comes back, past the newest to empty.
    s.keys("Up")
    expect(s, [">> 9 * 9 + 1"], "Up recalls the last line")
    s.keys("Up", "Up")
    expect(s, [">> 1 + 2"], "Up twice more")
    s.keys("Down")
    expect(s, [">> 2 + 40"], "Down")
    s.keys("Down", "Down")
    expect(s, [">> "], "Down past the newest")

    # Completion: a unique word, a word shared by several (listed, then offered again), a path
    # and files in the current folder and in a sub-folder.
    s.type("compo")
    s.keys("Tab")
    expect(s, [">> compose"], "Tab completes a unique word")
    s.keys("C-a", "C-k")
    s.type("words-o")
    s.keys("Tab")
    expect(s, [">> words-of"], "Tab completes words-of")
    s.keys("C-a", "C-k")
    s.type("system/options/pa")
    s.keys("Tab")
    expect(s, [">> system/options/path"], "Tab completes a path")
    s.keys("Enter")
    s.wait_for(r'^== %' + re.escape(work) + '/$')
    s.type("%alp")
    s.keys("Tab")
    expect(s, [">> %alpha.txt"], "Tab completes a file name")
    s.keys("C-a", "C-k")
    s.type("%sub/fi")
    s.keys("Tab")
    expect(s, [">> file-one.zel file-two.zel", ">> %sub/file-"],
           "Tab lists two files and offers their common part")
    s.type("two.zel")
    s.keys("Enter")
    expect(s, [">> %sub/file-two.zel", "== %sub/file-two.zel", ">> "], "the completed name")

    # A block over several lines under the continuation prompt; an empty line keeps it open.
    enter(s, "[1 2")
    expect(s, [">> [1 2", "[    "], "the continuation prompt")
    enter(s, "")
    enter(s, "3]")
    # The value after the empty line keeps its line break when molded.
    expect(s, ["[    ", "[    3]", "== [1 2", "3]", ">> "], "the block completed")

    # Escape drops the pending command.
    enter(s, "print {abc")
    expect(s, ["{    "], "an open string continues")
    s.type("def")
    s.keys("Escape")
    expect(s, ["(escape)", ">> "], "Escape")
    enter(s, "1")
    expect(s, ["== 1", ">> "], "the console goes on after Escape")

    # The prompt is what system/console/prompt evaluates to.
    enter(s, 'system/console/prompt: does ["zel> "]')
    expect(s, ["zel>"], "a prompt made by a function")
    enter(s, 'system/console/prompt: ">> "')
    expect(s, ['zel> system/console/prompt: ">> "', '== ">> "', ">>"], "the prompt back")

    # Ctrl-C quits even with a command pending; the terminal is cooked again afterwards.
    enter(s, "[1")
    s.keys("C-c")
    s.wait_for(r"^\$ ?$")
    enter(s, "stty -a | tr ' ' '\\n' | grep -x -e icanon -e echo -e isig | sort | tr '\\n' ,")
    s.wait_for(r"^echo,icanon,isig,")

# History kept across sessions through the configuration file.
check(os.path.exists(history_file), f"configuration file written at {history_file}")
with open(history_file, encoding="utf-8") as f:
    text = f.read()
check('Purpose: "Zel Console Configuration File"' in text and "buffer-lines: 10000" in text,
      f"configuration file content: {text!r}")
check(text.index('"[1"') < text.index('"1 + 2"'), f"history newest first: {text!r}")

with Session(env=env, cwd=work) as s:
    start(s)
    s.keys("Up")
    expect(s, [">> [1"], "the first session's last line")
    s.keys("C-a", "C-k")
    enter(s, "1 + 1")
    expect(s, ["== 2", ">> "], "a line in the second session")
    # Ctrl-D on an empty line quits as well, a command pending or not.
    enter(s, "[2")
    s.keys("C-d")
    s.wait_for(r"^\$ ?$")

with open(history_file, encoding="utf-8") as f:
    text = f.read()
check(text.index('"[2"') < text.index('"1 + 1"') < text.index('"[1"') < text.index('"1 + 2"'),
      f"both sessions' lines kept, newest first: {text!r}")

# The window title names the console on a terminal; output that is not a terminal gets none.
title_out = os.path.join(tmp, "redirected.txt")
with Session(env=env, cwd=work) as s:
    start(s)
    check(s.tmux("display-message", "-p", "#{pane_title}").strip() == "Zel Console",
          "the window title")
    s.keys("C-c")
    s.wait_for(r"^\$ ?$")
    enter(s, f"{ZEL} > {title_out}")
    time.sleep(1)  # nothing shows when the console waits: its prompt goes to the file
    s.type("1 + 1")
    s.keys("Enter", "C-c")
    s.wait_for(r"^\$ ?$")
with open(title_out, encoding="utf-8", errors="replace") as f:
    text = f.read()
check("\x1b]" not in text and "== 2" in text, f"no title sequence in redirected output: {text!r}")
finish()
