"""Library functions against Python: `math` precedence against Python's own evaluation of the
same expressions, and `split` against str.split, keeping the differences that split's
definition gives it (each named where it is tested). One zel process runs each table."""
import os
import random
import re
import tempfile

from zeltest import run, check, finish

tmp = tempfile.mkdtemp(prefix="zel-library-")
home = {"HOME": tmp, "XDG_CONFIG_HOME": os.path.join(tmp, "config")}


def zel_lines(lines):
    script = os.path.join(tmp, "table.zel")
    with open(script, "w") as f:
        f.write("Zel []\n" + "\n".join(lines) + "\n")
    r = run([script], env=home)
    check(r.returncode == 0, f"table script failed: {r.stderr.decode()[-400:]}")
    return r.stdout.decode().splitlines()


# math: random expressions of small non-negative integers with + - * / ** and parens, plus a
# fixed table of the cases that matter (right-grouped powers, chains, nested parens).
rng = random.Random(23)


def expression(depth):
    parts = [term(depth)]
    for _ in range(rng.randint(0, 3)):
        parts.append(rng.choice(["+", "-", "*", "*", "/", "**"]))
        parts.append(term(depth) if parts[-1] != "**" else str(rng.randint(0, 2)))
    return " ".join(parts)


def term(depth):
    if depth > 0 and rng.random() < 0.3:
        return "(" + expression(depth - 1) + ")"
    return str(rng.randint(1, 9))


fixed = ["2 + 3 * 4", "(2 + 3) * 4", "2 ** 3 ** 2", "10 - 2 - 3", "2 * (1 + 2) ** 2",
         "1 + 2 ** (1 + 1) ** 2 * 3", "(1 + (2 * 3 + 1) * 2) * 3", "8 / 2 / 2", "7 % 4 * 2",
         "2 * 3 * 4 + 1", "9 - 3 * 2 ** 2", "100 / 10 * 3"]
cases = list(fixed)
while len(cases) < 300:
    e = expression(2)
    try:
        v = eval(e)
    except ZeroDivisionError:
        continue
    if abs(v) < 2**31 and (isinstance(v, int) or abs(v) < 1e15):
        cases.append(e)
out = zel_lines([f"print mold try [math [{e}]]" for e in cases])
check(len(out) == len(cases), f"math: {len(out)} lines for {len(cases)} expressions")
for e, got in zip(cases, out):
    want = eval(e)
    try:
        ok = abs(float(got) - want) <= 1e-9 * max(1.0, abs(want))
    except ValueError:
        ok = False
    check(ok, f"math [{e}] gave {got}, Python {want}")
# /safe answers none where Python raises.
out = zel_lines(["print mold math/safe [1 + 2 / 0]", "print mold math/safe [2 * (1 - 1 / 0)]"])
check(out == ["none", "none"], f"math/safe on zero divide: {out}")


# split: same pieces as str.split for a string or char delimiter, in order, with an empty
# piece for a leading, doubled or trailing delimiter.
def molded(pieces):
    return "[" + " ".join('"' + p + '"' for p in pieces) + "]"


same = [("a,b,c", ","), ("a,,b", ","), (",a,", ","), ("", ","), ("abc", ","), (",", ","),
        ("a--b--c", "--"), ("a---b", "--"), ("--", "--"), ("one two  three", " "),
        ("héllo wörld €", " "), ("a€b€", "€"), ("a;b", "a;b"), ("xyz", "xyzw")]
lines = []
for text, d in same:
    lines.append(f'print mold split "{text}" "{d}"')
    if len(d) == 1:
        lines.append(f'print mold split "{text}" #"{d}"')
want = []
for text, d in same:
    want.append(molded(text.split(d)))
    if len(d) == 1:
        want.append(molded(text.split(d)))
# Differences:
# 1. The delimiter is matched without regard to case, as the text matching of parse is.
lines.append('print mold split "aXbxc" "x"')
want.append(molded(re.split("(?i)x", "aXbxc")))
# 2. A bitset splits at any of its characters, as a character class does for re.split.
lines.append('print mold split "a b,c,, d" charset " ,"')
want.append(molded(re.split("[ ,]", "a b,c,, d")))
# 3. An empty delimiter, which str.split refuses, leaves the whole text as one piece.
lines.append('print mold split "abc" ""')
want.append(molded(["abc"]))
out = zel_lines(lines)
for line, got, w in zip(lines, out, want):
    check(got == w, f"{line[11:]} gave {got}, expected {w}")
check(len(out) == len(want), f"split: {len(out)} lines for {len(want)} cases")

finish()
