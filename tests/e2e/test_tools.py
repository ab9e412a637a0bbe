"""The profiler's report (its times vary, so they are matched by pattern), the options it puts
back, and the debugger at a terminal: its prompt through the line editor, the lines typed there
left out of the history, and the end of input during a debug run."""
import os
import re
import tempfile

from tmux_session import Session
from zeltest import ZEL, check, finish, run

ROW = re.compile(r"^#(\d+) +(\S+) +\| (\d+) +\| (\d+:\d\d:\d\d(\.\d+)?) *$")


def profile_rows(text):
    return [m.groups()[1:3] for m in map(ROW.match, text.split("\n")) if m]


# Rows: rank, name, count and accumulated time; default order by count, largest first.
code = "f: func [x] [x * 2] g: func [] [f 1 f 2 f 3] "
out = run(stdin=code + "profile [g g 1 + 2]\n").stdout.decode()
check("== 3 \n\n#1" in out, f"the result line, an empty line, then the table: {out!r}")
rows = profile_rows(out)
check(set(rows[:2]) == {("f", "6"), ("*", "6")} and rows[2:] == [("g", "2"), ("+", "1")],
      f"rows by count: {rows}")
out = run(stdin=code + "profile/by [g 1 + 2] 'name\n").stdout.decode()
check([r[0] for r in profile_rows(out)] == ["*", "+", "f", "g"], f"rows by name: {out!r}")
# By time: the function that calls the others takes longest.
out = run(stdin="s: func [] [wait 0.05] t: func [] [s wait 0.02] profile/by [t] 'time\n").stdout.decode()
names = [r[0] for r in profile_rows(out)]
check(names[0] == "t" and names.index("t") < names.index("s"), f"rows by time: {out!r}")
# Anonymous functions get a tag each, numbered on across runs; no value, no "==" line.
out = run(stdin="a: does [do reduce [does [1]]] profile [a a] profile [a]\n").stdout.decode()
names = [r[0] for r in profile_rows(out)]
check({"<anon1>", "<anon2>", "<anon3>"} <= set(names), f"anonymous calls: {names}")
check("\n==" not in run(stdin="profile [print 1]\n").stdout.decode(),
      "no result line for an unset result")
# The types option limits the table; the options and the global `res` are left as they were.
out = run(stdin="res: 42 f: func [] [1] system/tools/options/profile/types: make typeset! [function!]\n"
           "profile [f 1 + 2]\nprint [res system/tools/options/profile/sort-by "
           "mold system/tools/options/profile/types]\n"
           "try [profile/by [f undefined-word] 'time]\n"
           "print system/tools/options/profile/sort-by\n").stdout.decode()
check(profile_rows(out) == [("f", "1")], f"functions only: {out!r}")
check("42 count make typeset! [function!]" in out, f"options and res kept: {out!r}")
check(out.rstrip().endswith("count"), f"options back after an error: {out!r}")

# The debugger at a terminal.
tmp = tempfile.mkdtemp(prefix="zel-debug-")
env = {"HOME": tmp, "XDG_CONFIG_HOME": os.path.join(tmp, "config")}
with Session(env=env, cwd=tmp) as s:
    s.type(ZEL)
    s.keys("Enter")
    s.wait_for(r"^>> ?$")
    s.type("debug [x: 1 + 2]")
    s.keys("Enter")
    s.wait_for(r"^debug> ?$")
    check("-----> EVAL x:" in s.screen(), f"the first step: {s.screen()!r}")
    # Typed through the line editor: editing keys work at the prompt.
    s.type("xyz")
    s.keys("BSpace", "BSpace", "BSpace")
    s.type(":x")
    s.keys("Enter")
    s.wait_for(r"^== (none|unset|1|3)")
    s.keys("Enter")
    s.wait_for(r"-----> EVAL 1")
    s.type("c")
    s.keys("Enter")
    s.wait_for(r"debug> c\n>> ?\n")
    # The lines typed at the debugger are not kept in the console history.
    s.keys("Up")
    s.wait_for(r"debug> c\n>> debug \[x: 1 \+ 2\]")
    s.keys("Down")
    s.type("x")
    s.keys("Enter")
    s.wait_for(r"^== 3")
    s.type("system/tools/options/debug/active?")
    s.keys("Enter")
    s.wait_for(r"^== false")
    # Ctrl-D at the debugger's prompt ends the debugging; the evaluation finishes.
    s.type("debug [y: 5]")
    s.keys("Enter")
    s.wait_for(r"^debug> ?$")
    s.keys("C-d")
    s.wait_for(r"debug> ?\n>> ?\n")
    s.type("y")
    s.keys("Enter")
    s.wait_for(r"^>> y\s*\n== 5")

# Redirected input that ends during a debug run ends the session cleanly.
r = run(stdin="debug [x: 1 + 2 print [x * 2]]\n\n")
out = r.stdout.decode()
check(r.returncode == 0 and out.endswith("\n6\n") and out.count("----->") == 2,
      f"closed input: {out!r}")
finish()
