"""Scripts run through the preprocessor: directives and macros in a script given on the command
line and in one run by `do`, #include of real files (relative to the including file, missing,
including themselves), and the exit codes of a stopped expansion."""
import os
import tempfile

from zeltest import run, check, finish

tmp = tempfile.mkdtemp(prefix="zel-preproc-")
home = {"HOME": tmp, "XDG_CONFIG_HOME": os.path.join(tmp, "config")}


def script(name, text):
    path = os.path.join(tmp, name)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)
    return path


def out(r):
    return r.stdout.decode("utf-8", "replace")


# A file included from a sub-folder includes its neighbour by a path relative to itself; the
# macros it defines serve the including script, and each file runs where #include stood.
script("lib/helper.zel", 'Zel []\nprint "helper runs"\n')
script("lib/macros.zel", "Zel []\n#include %helper.zel\n"
       "#macro twice: func [x] [reduce [x '* 2]]\n"
       "double: func [x] [x * 2]\nprint \"macros run\"\n")
main = script("main.zel", 'Zel [Title: "main"]\nprint "first"\n#include %lib/macros.zel\n'
              '#if 1 < 2 [print "kept"]\n#if 1 > 2 [print "dropped"]\n'
              "#do [answer: 42]\nprint #do keep [answer]\n"
              "print [double 4 twice 5]\nprint what-dir\n")
r = run([main], env=home)
check(r.returncode == 0, f"script with includes: exit 0, got {r.returncode} {out(r)!r}")
check(out(r) == f"first\nhelper runs\nmacros run\nkept\n42\n8 10\n{tmp}/\n",
      f"script with includes: {out(r)!r}")

# The same script through `do` from another folder: the expansion and the run are the same.
r = run([], stdin=f'do %{main}\nprint "back"\n', env=home)
check(out(r).endswith(f"first\nhelper runs\nmacros run\nkept\n42\n8 10\n{tmp}/\nback\n"),
      f"do of a script with includes: {out(r)!r}")

# A missing file fails where the code runs it, with the file in the report.
missing = script("missing.zel", 'Zel []\nprint "before"\n#include %nowhere.zel\nprint "after"\n')
r = run([missing], env=home)
check(r.returncode == 1, f"missing include: exit 1, got {r.returncode}")
check(out(r).startswith("before\n*** Access Error: cannot open: %nowhere.zel\n")
      and "after\n" not in out(r), f"missing include: {out(r)!r}")

# Files that include themselves, directly or through another, stop the expansion at once with
# a report that names the file; nothing of the script runs.
script("loop/a.zel", 'Zel []\n#include %b.zel\nprint "a"\n')
script("loop/b.zel", 'Zel []\n#include %a.zel\nprint "b"\n')
cases = [
    ("itself", script("self.zel", 'Zel []\nprint "self"\n#include %self.zel\n'), "%self.zel"),
    ("a cycle", script("cycle.zel", 'Zel []\nprint "top"\n#include %loop/a.zel\n'), "%a.zel"),
]
for what, path, name in cases:
    r = run([path], env=home, timeout=30)
    check(r.returncode == 1, f"include of {what}: exit 1, got {r.returncode}")
    check(out(r).startswith("*** Preprocessor Error in #include\n")
          and f"{name} includes itself" in out(r) and out(r).endswith("(halted)\n"),
          f"include of {what}: {out(r)!r}")

# A malformed directive stops the script before any of it runs.
bad = script("bad.zel", 'Zel []\nprint "start"\n#if 1 > 2 5\n')
r = run([bad], env=home)
check(r.returncode == 1, f"syntax error: exit 1, got {r.returncode}")
check(out(r) == "*** Preprocessor Error: Syntax error\n*** Where: #if 1 > 2 5\n(halted)\n",
      f"syntax error: {out(r)!r}")

# Through `do`, the stop reaches the console, which goes on with the next line.
r = run([], stdin=f'do %{bad}\nprint "console goes on"\n', env=home)
check(out(r).endswith("*** Where: #if 1 > 2 5\n(halted)\nconsole goes on\n"),
      f"syntax error through do: {out(r)!r}")

# A macro that keeps expanding into itself ends with an error, in a script too.
endless = script("endless.zel", "Zel []\n#macro m: func [] ['m]\nm\n")
r = run([endless], env=home, timeout=30)
check(r.returncode == 1, f"endless macro: exit 1, got {r.returncode}")
check(out(r).startswith("*** Macro Error: macro expands into itself without end\n"),
      f"endless macro: {out(r)!r}")

finish()
