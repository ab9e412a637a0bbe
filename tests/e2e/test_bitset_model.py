"""bitset! against Python sets over a bounded universe, negation modelled as a complement flag.

Random operands (plain or negated, stored at different sizes) go through the logic actions, the
set natives, complement, append and remove; every result's membership is read back bit by bit
over the whole universe (past every stored byte, where a negated set's infinite tail shows), and
equality is checked against the model too.
"""
import os
import random
import tempfile

from zeltest import run, check, finish

SEED = int(os.environ.get("ZEL_MODEL_SEED", "20240617"))
CASES = int(os.environ.get("ZEL_MODEL_STEPS", "600")) // 4
UNIVERSE = 200  # bits checked: past every stored byte of the operands below
rng = random.Random(SEED)


class Bits:
    """members: the listed numbers; negated: the set is everything except them."""

    def __init__(self, members, negated):
        self.members, self.negated = frozenset(members), negated

    def has(self, n):
        return (n in self.members) != self.negated

    def row(self):
        return "".join("1" if self.has(n) else "0" for n in range(UNIVERSE))


def operand():
    members = rng.sample(range(120), rng.randrange(0, 6))
    negated = rng.randrange(3) == 0
    size = rng.choice([0, 8, 64, 128])  # a preset size: the same set stored at other lengths
    spec = " ".join(str(m) for m in members)
    if negated:
        text = f"make bitset! [not {spec}]"
    else:
        text = f"append make bitset! {size} [{spec}]"
    return text, Bits(members, negated)


def complement_of(b):
    return Bits(b.members, not b.negated)


OPS = {
    "union": lambda a, b: lambda n: a.has(n) or b.has(n),
    "or~": lambda a, b: lambda n: a.has(n) or b.has(n),
    "intersect": lambda a, b: lambda n: a.has(n) and b.has(n),
    "and~": lambda a, b: lambda n: a.has(n) and b.has(n),
    "difference": lambda a, b: lambda n: a.has(n) != b.has(n),
    "xor~": lambda a, b: lambda n: a.has(n) != b.has(n),
    "exclude": lambda a, b: lambda n: a.has(n) and not b.has(n),
}

lines = ["row: func [s /local out] [out: copy \"\" "
         f"repeat i {UNIVERSE} [append out either pick s i - 1 [\"1\"] [\"0\"]] out]"]
expected = []
for case in range(CASES):
    (ta, a), (tb, b) = operand(), operand()
    if rng.randrange(4) == 0:
        ta, a = f"complement {ta}", complement_of(a)
    op = rng.choice(list(OPS))
    test = OPS[op](a, b)
    want = "".join("1" if test(n) else "0" for n in range(UNIVERSE))
    lines.append(f"r: {op} {ta} {tb} print row r")
    expected.append(want)
    # Change in place: append and remove name members, in a plain or a negated set alike.
    extra = rng.sample(range(150), 3)
    lines.append(f"append r [{extra[0]} {extra[1]}] remove/key r {extra[2]} print row r")
    after = [c == "1" for c in want]
    after[extra[0]] = after[extra[1]] = True
    after[extra[2]] = False
    expected.append("".join("1" if x else "0" for x in after))
    # Equality is membership: the same result built from the other operand order or through
    # De Morgan is equal, and a set differing in one member is not.
    if op in ("union", "intersect", "difference"):
        lines.append(f"print ({op} {tb} {ta}) = {op} {ta} {tb}")
        expected.append("true")
    if op == "union":
        lines.append(f"print (complement intersect complement {ta} complement {tb}) = "
                     f"union {ta} {tb}")
        expected.append("true")

path = os.path.join(tempfile.mkdtemp(prefix="zel-bitset-"), "bitset_model.zel")
with open(path, "w") as f:
    f.write("Zel []\n" + "\n".join(lines) + "\n")
r = run([path], timeout=300)
out = r.stdout.decode("utf-8", "replace").splitlines()
check(r.returncode == 0, f"bitset model script exits 0, got {r.returncode}: {out[-3:]}")
for i, (got, want) in enumerate(zip(out, expected)):
    if got != want:
        check(False, f"bitset model, check {i + 1}: "
                     f"want {want}, got {got}")
        break
check(len(out) == len(expected), f"bitset model: {len(expected)} lines, got {len(out)}")
finish()
