"""The console's input: the delimiter check of commands over many lines (the answers of a scan of
the whole command, in time that grows with the input, not its square), the console going on
whatever a user does to global words, and standard input that cannot be read.

ZEL_CHECK_CASES sets how many random commands the delimiter check is compared on (default 3000)."""
import os
import random
import subprocess
import tempfile
import time

from tmux_session import Session
from zeltest import ZEL, check, finish, run

tmp = tempfile.mkdtemp(prefix="zel-console-input-")
config = os.path.join(tmp, "config")
home = {"HOME": tmp, "XDG_CONFIG_HOME": config}
history_file = os.path.join(config, "Zel-Console", "console-cfg.zel")


def out(r):
    return r.stdout.decode("utf-8", "replace")


def write(name, text):
    path = os.path.join(tmp, name)
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)
    return path


def zel_string(text):
    escaped = {"^": "^^", '"': '^"'}
    return '"' + "".join(escaped.get(c, c) if ord(c) >= 32 else "^(%02X)" % ord(c)
                         for c in text) + '"'


# --- The delimiter check answers as a scan of the whole command does ---
# Random commands of a few lines, typed one line after the other as the console takes them; after
# each line the console's check (which resumes where the last line left it) must give the answer
# and open delimiters of the lexer's scan of the whole pending text.
PIECES = ["[", "]", "(", ")", "#[", "{", "}", "^{", "^}", "%{", "}%", "%%{", "}%%", "<", "<a", ">",
          '"', '"a"', "#{", "#{12", "a/(", "a/", "/", "1", "1,", ",", ";c", "^", "x:", "'a", '#"',
          '#"a"', "1.2.3x", "@", "a/b", "(1, 2)", "#(", "]]", "[[", "((", "))", "a", " ", "é",
          "ü{", "}ö", "%{é", "\x00", "a/(é"]
# Mostly well-formed pieces inside an open block, so that lines are resumed often.
NESTED = ["é", "}", "^}", "{ä", "[", "]", "(", ")", "#[", "{", "}", "a", "1", "a/(", "x:", "[a]",
          "(1)", " ", "#[a 1]", "1,", "<a>", '"s"', ";c"]


def random_commands(rng, count):
    commands = []
    for i in range(count):
        if i % 2:
            lines = ["[" * rng.randint(1, 3)]
            for _ in range(rng.randint(1, 12)):
                pool = NESTED if rng.random() < 0.9 else PIECES
                lines.append(" ".join(rng.choice(pool) for _ in range(rng.randint(0, 5))))
        else:
            lines = []
            for _ in range(rng.randint(1, 8)):
                pieces = [rng.choice(PIECES) for _ in range(rng.randint(0, 6))]
                lines.append(rng.choice(["", " "]).join(pieces))
        commands.append(lines)
    return commands


FIXED = [
    ["x: [", "1 [2", "3] 4", "]"],
    ["m: #[", "a 1", "b]"],
    ["[(1 + 2)", "a/(1 +", "2) ]"],
    ["[[", "] {", "a {", "}", "} ]"],
    ["[", "{", "]}", "]"],
    ["[[[", "] ] %{a", "}%", "]"],
    ["((1,", "2)", ")"],
    ["[", "\x00 ]"],
]
cases = int(os.environ.get("ZEL_CHECK_CASES", "3000"))
commands = FIXED + random_commands(random.Random(15), cases)
script = write("check.zel", "Zel []\ncommands: [\n" + "\n".join(
    "[" + " ".join(zel_string(line) for line in lines) + "]" for lines in commands) + "\n]\n" + r'''
con: system/console
whole-scan: func [text /local answer][
    clear con/delimiters
    answer: 'stop <> catch [if error? try [transcode/trace text :con/delimiter-lex] ['stop]]
    reduce [answer copy con/delimiters]
]
foreach lines commands [
    con/mode: 'mono
    clear con/buffer
    clear con/delimiters
    foreach line lines [
        append append con/buffer line lf
        got: reduce [con/check-delimiters con/buffer  copy con/delimiters]
        wanted: whole-scan copy con/buffer
        if got <> wanted [
            print ["differs:" mold lines "at" mold line "got" mold got "wanted" mold wanted]
            break
        ]
        either all [got/1  not empty? got/2][con/mode: 'other][
            con/mode: 'mono
            clear con/buffer
            clear con/delimiters
        ]
    ]
]
print "done"
''')
r = run([script], env=home, timeout=600)
check(r.returncode == 0 and out(r) == "done\n",
      f"the delimiter check answers as a scan of the whole command: {out(r)[-2000:]!r}")

# --- Long input costs time in proportion to its length ---
# Each input is timed against one ten times smaller: a check that scanned everything again for
# every line or every token takes a hundred times as long, a linear one about ten times.


def timed(stdin):
    start = time.time()
    r = run(stdin=stdin, env=home, timeout=600)
    return time.time() - start, r


LONG_INPUTS = [
    ("brackets on one line", lambda n: "length? " + "[" * n + "]" * n + "\n", 10000, "== 1"),
    ("nested lines", lambda n: "length? " + "\n".join(["[ 1"] * n + ["]"] * n) + "\n", 300,
     "== 2"),
    ("lines of a brace string",
     lambda n: "length? [{\n" + "\n".join(f"line {i} with [brackets] and (parens)"
                                          for i in range(n)) + "\n}]\n", 300, "== 1"),
]
for what, make, n, result in LONG_INPUTS:
    small, r = timed(make(n))
    check(r.returncode == 0 and out(r).endswith(result + "\n"), f"{what}: {out(r)[-300:]!r}")
    large, r = timed(make(n * 10))
    check(r.returncode == 0 and out(r).endswith(result + "\n"),
          f"{what} x10: {out(r)[-300:]!r}")
    check(large < 25 * small + 2, f"{what}: {large:.2f} s for ten times the {small:.2f} s input")

# --- What a user does to global words does not stop the console ---
# Each redefinition is followed by commands over one and several lines, and q: the console
# evaluates them, quits with exit code 0 and saves its configuration (except without
# `system/console`, where quit saves nothing).
REDEFINITIONS = ["print: 1", "if: none", "foreach = [1 2] []", "mold: :none", "form: none",
                 "append: 1", "unset 'print", "either: 1", "load: 1", "try: 1", "catch: 1",
                 "transcode: 1", "lf: 1", "none: 1", "func: 1", "_save-cfg: 1", "quit-return: 1",
                 "system: none", "system/console: none"]
for redefinition in REDEFINITIONS:
    if os.path.exists(history_file):
        os.remove(history_file)
    r = run(stdin=f"{redefinition}\n[1\n2]\n3 * 4\nq\n", env=home)
    check(r.returncode == 0 and out(r).endswith("== [1\n2]\n== 12\n"),
          f"after {redefinition}: {r.returncode} {out(r)!r}")
    saved = os.path.exists(history_file)
    check(saved == (redefinition != "system/console: none"),
          f"after {redefinition}: configuration saved at quit: {saved}")

# Members of the console object a user sets to what the console cannot use: the failure is
# reported (or the default used) line after line, never in an endless loop, and the input's end
# still ends the console.
BROKEN_MEMBERS = [
    ("system/console/history: 1", "== 3\n"),
    ("system/console/def-prompt: 5 system/console/prompt: does [1 / 0]", "== 3\n"),
    ("system/console/buffer: none", "append does not allow none!"),
]
for member, shown in BROKEN_MEMBERS:
    r = run(stdin=f"{member}\n1 + 2\n", env=home, timeout=30)
    check(r.returncode == 0 and shown in out(r), f"after {member}: {r.returncode} {out(r)!r}")


def start(s):
    s.type(ZEL)
    s.keys("Enter")
    s.wait_for(r"^>> ?$")


def enter(s, text):
    s.type(text)
    s.keys("Enter")


# At a terminal: completion, history recall and quitting still work; the history is saved.
if os.path.exists(history_file):
    os.remove(history_file)
with Session(env=home, cwd=tmp) as s:
    start(s)
    for line in ["foreach = [1 2] []", "print: 1", "if: none", "mold: :none", "append: 1"]:
        enter(s, line)
    s.type("length? [1")
    s.keys("Enter")
    enter(s, "2]")
    s.wait_for(r"^== 2$")
    s.type("list-d")
    s.keys("Tab")
    s.wait_for(r"^>> list-dir$")
    s.keys("Home", "C-k", "Up")
    s.wait_for(r"^>> 2\]$")
    s.keys("Home", "C-k")
    enter(s, "q")
    s.wait_for(r"^\$ ?$")
check(os.path.exists(history_file) and '"append: 1"' in open(history_file).read(),
      "history saved at q after the redefinitions")

# Ctrl-D on an empty line quits, whatever `q` became.
with Session(env=home, cwd=tmp) as s:
    start(s)
    enter(s, "q: 1")
    s.wait_for(r"^== 1$")
    s.keys("C-d")
    s.wait_for(r"^\$ ?$")
    enter(s, "echo status=$?")
    s.wait_for(r"^status=0$")

# --- Standard input that cannot be read ---
# A directory (or a closed descriptor) as standard input: the console reports it and ends with
# exit code 1; a script's `ask` raises the error, which ends the script with 1.
r = subprocess.run([ZEL], stdin=os.open(tmp, os.O_RDONLY), capture_output=True,
                   env={**os.environ, **home}, timeout=60)
check(r.returncode == 1 and "*** Access Error: cannot open: %/dev/stdin" in out(r),
      f"standard input a directory: {r.returncode} {out(r)!r}")
r = subprocess.run([ZEL], stdin=subprocess.DEVNULL, capture_output=True, timeout=60,
                   env={**os.environ, **home}, preexec_fn=lambda: os.close(0))
check(r.returncode == 1 and "cannot open: %/dev/stdin" in out(r),
      f"standard input closed: {r.returncode} {out(r)!r}")
asks = write("ask.zel", 'Zel []\nprint "before"\nask "? "\nprint "after"\n')
r = subprocess.run([ZEL, asks], stdin=os.open(tmp, os.O_RDONLY), capture_output=True,
                   env={**os.environ, **home}, timeout=60)
check(r.returncode == 1 and out(r).startswith("before\n") and "cannot open" in out(r)
      and "\nafter\n" not in out(r), f"ask in a script: {r.returncode} {out(r)!r}")
# The end of readable input is still a plain end.
r = run(stdin="1 + 1\n", env=home)
check(r.returncode == 0 and out(r).endswith("== 2\n"), f"end of input: {r.returncode} {out(r)!r}")

finish()
