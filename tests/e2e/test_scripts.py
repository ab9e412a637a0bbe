"""Scripts and redirected input: the script's header and arguments, "--catch", the messages and
exit codes of failed scripts, the end of redirected input, quit statuses, and uncaught errors."""
import os
import re
import tempfile

from zeltest import run, check, finish

tmp = tempfile.mkdtemp(prefix="zel-scripts-")
home = {"HOME": tmp, "XDG_CONFIG_HOME": os.path.join(tmp, "config")}


def script(name, text):
    path = os.path.join(tmp, name)
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)
    return path


def out(r):
    return r.stdout.decode("utf-8", "replace")


# The header may follow other text (a shell line); the script's own arguments arrive as given,
# spaces and quotes included, and the raw text keeps them quoted.
args = script("args.zel", "#!/usr/bin/env zel\nZel [Title: \"args\"]\n"
              "probe system/options/args\nprobe system/script/args\n"
              "probe system/options/script\nprint what-dir\n")
r = run([args, "one", "two words", "--x", "", 'q"uote'], env=home)
check(r.returncode == 0, f"script with arguments: exit 0, got {r.returncode} {out(r)!r}")
check(out(r) == '["one" "two words" "--x" "" {q"uote}]\n'
      '{one "two words" --x "" q"uote}\n'
      f"%{args}\n{tmp}/\n",
      f"script arguments, raw text, script and folder: {out(r)!r}")

# Options before the script: "--catch" is taken out (and keeps the console open), others stay.
r = run(["--x", "--catch", args, "a"], stdin="1 + 1\n", env=home)
check(r.returncode == 0, f"--catch: exit 0 at the end of input, got {r.returncode}")
check(out(r) == f'["a"]\n"a"\n%{args}\n{tmp}/\n== 2\n',
      f"--catch runs the console after the script, without banner: {out(r)!r}")

# Failures end with their message and exit code 1.
cases = [
    ("no header", "print 1\n", "*** Error: Zel header not found!\n"),
    ("compiled code", "Zel/System [] 1\n",
     "*** Error: contains Zel/System code which requires compilation!\n"),
]
for what, text, message in cases:
    r = run([script("bad.zel", text)], env=home)
    check(r.returncode == 1, f"{what}: exit 1, got {r.returncode}")
    check(out(r) == message, f"{what}: {out(r)!r}")

r = run([script("fails.zel", "Zel []\nprint \"before\"\n1 / 0\nprint \"after\"\n")], env=home)
check(r.returncode == 1, f"script error: exit 1, got {r.returncode}")
check(out(r).startswith("before\n*** Math Error: attempt to divide by zero\n")
      and "after" not in out(r).split("\n"), f"script error report: {out(r)!r}")

r = run([script("syntax.zel", "Zel []\nprint [1 2\n")], env=home)
check(r.returncode == 1, f"script that does not load: exit 1, got {r.returncode}")
check(re.match(r"\*\*\* Syntax Error: .*missing \] at \[1 2", out(r)), f"load error: {out(r)!r}")

r = run([os.path.join(tmp, "missing.zel")], env=home)
check(r.returncode == 1, f"unreadable script: exit 1, got {r.returncode}")
check("cannot open" in out(r) and "missing.zel" in out(r), f"read error: {out(r)!r}")

# The status given to quit is the exit code; halt in a script stops it.
r = run([script("quit.zel", "Zel []\nprint 1\nquit/return 3\nprint 2\n")], env=home)
check(r.returncode == 3 and out(r) == "1\n", f"quit/return 3: {r.returncode} {out(r)!r}")
r = run([script("halt.zel", "Zel []\nprint 1\nhalt\nprint 2\n")], env=home)
check(r.returncode == 0 and out(r) == "1\n(halted)\n", f"halt: {r.returncode} {out(r)!r}")

# Redirected input: banner, results; the end of input ends the console with 0, or with 1 after
# the syntax error of a command left incomplete (a complete last line without a line feed runs).
r = run(stdin="1 + 2\n", env=home)
check(r.returncode == 0, f"piped 1 + 2: exit 0, got {r.returncode}")
check(out(r) == "--== Zel 0.1.0 ==--\nType HELP for starting information.\n\n== 3\n",
      f"piped 1 + 2: {out(r)!r}")
r = run(stdin="print 1\n2 * 3", env=home)
check(r.returncode == 0 and out(r).endswith("1\n== 6\n"),
      f"last line without a line feed: {r.returncode} {out(r)!r}")
r = run(stdin="print 1\n[1 2\n", env=home)
check(r.returncode == 1, f"incomplete command at the end of input: exit 1, got {r.returncode}")
check(re.search(r"^1\n\*\*\* Syntax Error: .*missing \] at \[1 2\n", out(r), re.M),
      f"incomplete command reported: {out(r)!r}")
r = run(stdin="q\nprint 1\n", env=home)
check(r.returncode == 0 and not out(r).endswith("1\n"), f"q: {r.returncode} {out(r)!r}")
r = run(stdin="quit/return 7\n", env=home)
check(r.returncode == 7, f"quit/return 7 typed: {r.returncode}")

# An error that escapes the console's guard of a command (here a command function replaced by
# one that fails) is reported, and the console reads on to the end of its input.
r = run(stdin="system/console/do-command: does [1 / 0]\n1\n2\n", env=home)
check(r.returncode == 0, f"error outside the guard: exit 0 at the end, got {r.returncode} {out(r)!r}")
check(out(r).count("attempt to divide by zero") == 2,
      f"error outside the guard is reported for each line: {out(r)!r}")

# The configuration never keeps the user from working or quitting: a folder that cannot be made
# leaves the console without history; a file that cannot be written (a full disk) is reported,
# the previous file stays whole, and quit still ends the program with its status.
blocked = script("not-a-folder", "")
r = run(stdin="1 + 1\nq\n", env={"HOME": tmp, "XDG_CONFIG_HOME": os.path.join(blocked, "config")})
check(r.returncode == 0 and out(r).endswith("== 2\n"), f"no configuration folder: {out(r)!r}")
full = os.path.join(tmp, "full")
os.makedirs(os.path.join(full, "Zel-Console"))
cfg = os.path.join(full, "Zel-Console", "console-cfg.zel")
with open(cfg, "w") as f:
    f.write('Zel [Purpose: "Zel Console Configuration File"]\n'
            'buffer-lines: 10000 history: ["old"]\n')
os.symlink("/dev/full", cfg + ".new")
r = run(stdin="1 + 1\nquit/return 4\n", env={"HOME": tmp, "XDG_CONFIG_HOME": full})
check(r.returncode == 4, f"quit with a full disk: exit 4, got {r.returncode}")
check("*** Access Error" in out(r), f"the failed save is reported: {out(r)!r}")
with open(cfg) as f:
    check('history: ["old"]' in f.read(), "the previous configuration stays whole")

# The configuration file: kept keys, the history cut to its 100 newest lines, a file that does
# not load replaced by a fresh one.
hundred_fifty = " ".join(f'"line {i}"' for i in range(150))
cases = [
    ("other keys kept", 'Zel []\ncolour: "red" history: ["a"]\n',
     ['colour: "red"', 'history: ["a"]', "buffer-lines: 10000"], []),
    ("history cut", f"Zel []\nbuffer-lines: 10000 history: [{hundred_fifty}]\n",
     ['"line 0"', '"line 99"'], ['"line 100"']),
    ("syntax error", "Zel [\nhistory: [\"a\"\n", ["buffer-lines: 10000", "history: []"], []),
    ("no header", 'history: ["a"]\n', ["history: []"], ['"a"']),
]
for what, text, present, absent in cases:
    folder = tempfile.mkdtemp(prefix="zel-cfg-")
    os.makedirs(os.path.join(folder, "Zel-Console"))
    cfg = os.path.join(folder, "Zel-Console", "console-cfg.zel")
    with open(cfg, "w") as f:
        f.write(text)
    r = run(stdin="q\n", env={"HOME": tmp, "XDG_CONFIG_HOME": folder})
    with open(cfg) as f:
        saved = f.read()
    check(r.returncode == 0 and saved.startswith(
        'Zel [\n\tPurpose: "Zel Console Configuration File"\n]\n'), f"{what}: {saved!r}")
    for p in present:
        check(p in saved, f"{what}: {p} in {saved!r}")
    for a in absent:
        check(a not in saved, f"{what}: no {a} in {saved!r}")

# Standard input read raw: never more than the binary has room for; the rest stays for the
# line readers.
reader = script("stdin.zel", "Zel []\nb: make binary! 4\nguard: copy \"guard text\"\n"
                "read-stdin b 1000\nprint 64 >= length? b\nprint guard\n"
                "print mold input-stdin\nprint mold input-stdin\n")
r = run([reader], stdin="x" * 100 + "\nsecond line\n", env=home)
lines = out(r).split("\n")
check(r.returncode == 0 and lines[:2] == ["true", "guard text"], f"read-stdin: {out(r)!r}")
check(len(lines) > 3 and set(lines[2].strip('"{}')) == {"x"} and lines[3] == '"second line"',
      f"input-stdin after read-stdin: {out(r)!r}")
finish()
