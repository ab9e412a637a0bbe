"""money! arithmetic against Python's decimal: random amounts of 1 to 17 integral digits, add,
subtract, multiply and divide truncated to five fractional digits, remainder, the seven rounding
rules, and the overflow limit. One zel process runs the whole table."""
import os
import random
import tempfile
from decimal import (Decimal, getcontext, ROUND_CEILING, ROUND_DOWN, ROUND_FLOOR,
                     ROUND_HALF_DOWN, ROUND_HALF_EVEN, ROUND_HALF_UP)

from zeltest import run, check, finish

getcontext().prec = 60
tmp = tempfile.mkdtemp(prefix="zel-money-")
home = {"HOME": tmp, "XDG_CONFIG_HOME": os.path.join(tmp, "config")}
rng = random.Random(1234)
STEP = Decimal("0.00001")
LIMIT = Decimal(10) ** 17


def amount(max_int_digits=17):
    n = rng.randint(1, max_int_digits)
    integral = rng.randrange(10 ** (n - 1), 10 ** n) if rng.random() < 0.9 else 0
    frac = rng.choice([0, rng.randrange(100000), rng.randrange(100) * 1000])
    d = Decimal(integral) + Decimal(frac) * STEP
    return -d if rng.random() < 0.3 else d


def literal(d):
    text = format(abs(d), "f")
    return ("-" if d < 0 else "") + "$" + text


def fixed(d):
    text = format(abs(d).quantize(STEP), "f")
    return ("-" if d < 0 and d != 0 else "") + "$" + text


cases = []  # (zel expression, expected text)
for _ in range(120):
    a, b = amount(), amount()
    for op, f in (("+", lambda x, y: x + y), ("-", lambda x, y: x - y)):
        r = f(a, b)
        cases.append((f"{literal(a)} {op} {literal(b)}", "limit" if abs(r) >= LIMIT else fixed(r)))
    x, y = amount(9), amount(9)
    k = rng.randint(-999, 999)
    r = x * k
    cases.append((f"{literal(x)} * {k}", "limit" if abs(r) >= LIMIT else fixed(r)))
    m = Decimal(rng.randint(1, 99999)) * STEP
    r = x * m
    q = r.quantize(STEP, rounding=ROUND_DOWN)
    cases.append((f"{literal(x)} * {float(m)!r}", "limit" if (q == 0 and r != 0) else fixed(q)))
    if y != 0:
        q = (x / y).quantize(STEP, rounding=ROUND_DOWN)
        cases.append((f"{literal(x)} / {literal(y)}",
                      "float " + repr(float(q)) if q or x == 0 else "limit"))
        cases.append((f"remainder {literal(x)} {literal(y)}",
                      fixed(x - y * int(x / y))))
    if k:
        q = (x / k).quantize(STEP, rounding=ROUND_DOWN)
        cases.append((f"{literal(x)} / {k}", fixed(q) if q or x == 0 else "limit"))

rules = [("round", ROUND_HALF_UP), ("round/even", ROUND_HALF_EVEN),
         ("round/half-down", ROUND_HALF_DOWN), ("round/floor", ROUND_FLOOR),
         ("round/ceiling", ROUND_CEILING), ("round/down", ROUND_DOWN)]
for _ in range(60):
    v = amount(12)
    v = v.quantize(Decimal("0.01")) + rng.choice([0, Decimal("0.005"), Decimal("0.5")]) * (1 if v >= 0 else -1)
    scale = rng.choice([Decimal("0.01"), Decimal(1), Decimal("0.1"), Decimal(100)])
    for word, mode in rules:
        r = (v / scale).quantize(Decimal(1), rounding=mode) * scale
        cases.append((f"{word}/to {literal(v)} {literal(scale)}", fixed(r)))
    # half-ceiling: a tie goes toward plus infinity
    t = v / scale
    frac = abs(t - int(t))
    mode = ROUND_CEILING if frac == Decimal("0.5") else ROUND_HALF_UP
    cases.append((f"round/half-ceiling/to {literal(v)} {literal(scale)}",
                  fixed(t.quantize(Decimal(1), rounding=mode) * scale)))

lines = ["Zel []", "system/options/money-digits: 5"]
for expr, _ in cases:
    lines.append(f"print either error? r: try [{expr}] ['limit] "
                 f"[either float? r [append copy \"float \" form r] [mold/all r]]")
path = os.path.join(tmp, "money.zel")
with open(path, "w") as f:
    f.write("\n".join(lines) + "\n")
r = run([path], env=home)
check(r.returncode == 0, f"money script exit 0: {r.stderr.decode()[-400:]}")
got = r.stdout.decode().split("\n")
bad = 0
for i, (expr, want) in enumerate(cases):
    line = got[i] if i < len(got) else "<missing>"
    if want.startswith("float "):
        ok = line.startswith("float ") and abs(float(line[6:]) - float(want[6:])) <= 1e-15 * max(1, abs(float(want[6:])))
    else:
        ok = line == want
    if not ok and bad < 10:
        check(False, f"{expr}: wanted {want}, got {line}")
    bad += not ok
check(bad == 0, f"{bad} of {len(cases)} money cases differ")
finish()
