"""Source text with bytes no token takes: a NUL byte or an overlong UTF-8 form in a script file
or in the console's redirected input is a syntax error (exit code 1 for a script), and nothing
after it runs as if the text had ended there."""
import os
import subprocess
import tempfile

from zeltest import ZEL, check, finish

tmp = tempfile.mkdtemp(prefix="zel-source-text-")
env = dict(os.environ, HOME=tmp, XDG_CONFIG_HOME=os.path.join(tmp, "config"))


def run(args, stdin=b""):
    r = subprocess.run([ZEL, *args], input=stdin, capture_output=True, env=env, timeout=60)
    return r.returncode, r.stdout.decode("utf-8", "replace")


def script(name, body):
    path = os.path.join(tmp, name)
    with open(path, "wb") as f:
        f.write(b"Zel []\nprint \"before\"\n" + body + b"\nprint \"after\"\n")
    return path


# A script file: the text before the bad byte loads, the script never starts, exit code 1.
cases = [
    ("NUL between values", b"print 1 \x00 print 2", "(line 3) invalid character at"),
    ("NUL in a string", b'print "a\x00b"', "(line 3) invalid string at"),
    # An overlong form is refused by the decoder of text read in, before the lexer sees it.
    ("overlong NUL", b"print 1 \xc0\x80 print 2", "Access Error: invalid UTF-8 encoding: #{C080"),
    ("overlong NUL, 3 bytes", b"x: 1 \xe0\x80\x80", "Access Error: invalid UTF-8 encoding: #{E08080"),
    ("overlong letter", b"print 1 \xc1\x81 print 2", "Access Error: invalid UTF-8 encoding: #{C181"),
]
for what, body, message in cases:
    code, out = run([script("bad.zel", body)])
    check(code == 1, f"{what}: exit 1, got {code} {out!r}")
    if not message.startswith("Access"):
        message = "Syntax Error: " + message
    check(out.startswith("*** " + message), f"{what}: report {out!r}")
    check("before" not in out and "after" not in out, f"{what}: nothing ran {out!r}")

# `do` of the same file from a script reports the error to the caller.
bad = script("nul.zel", b"print 1 \x00 print 2")
driver = os.path.join(tmp, "driver.zel")
with open(driver, "w") as f:
    f.write(f"Zel []\ne: try [do %{bad}]\nprint [e/type e/id]\n")
code, out = run([driver])
check(code == 0 and out == "syntax bad-char\n", f"do of a script with a NUL: {code} {out!r}")

# The console reading redirected input: the line with the NUL is refused, the next one runs.
code, out = run([], stdin=b"print 1\nprint 2 \x00 print 3\nprint 4\n")
lines = out.split("\n")
check("1" in lines and "4" in lines and "3" not in lines, f"console input with a NUL: {out!r}")
check("*** Syntax Error: (line 1) invalid character at" in out,
      f"console input with a NUL: report {out!r}")

finish()
