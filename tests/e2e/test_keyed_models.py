"""map! and hash! against Python models under random operation sequences.

map!: a dict keyed by the lookup rules (word kinds are one key, string keys are case-insensitive
and copied, integer keys exact), in insertion order with removed entries keeping their place, so
that the order of keys-of and the key spelling find answers are checked too. hash!: a list, with
find answering the first equal value at or after the position, after edits anywhere in the series.
"""
import os
import random
import tempfile

from zeltest import run, check, finish

tmp = tempfile.mkdtemp(prefix="zel-models-")
SEED = int(os.environ.get("ZEL_MODEL_SEED", "20240617"))
STEPS = int(os.environ.get("ZEL_MODEL_STEPS", "600"))


def run_script(name, body):
    path = os.path.join(tmp, name)
    with open(path, "w", encoding="utf-8") as f:
        f.write("Zel []\n" + body)
    r = run([path], timeout=300)
    return r.returncode, r.stdout.decode("utf-8", "replace").splitlines()


# ---- map! -------------------------------------------------------------------------------------

WORDS = ["alpha", "Alpha", "beta", "BETA", "gamma", "d", "D", "e1"]
TEXTS = ["k", "K", "key", "KEY", "Key2", "x y"]


def random_key(rng):
    kind = rng.randrange(3)
    if kind == 0:
        return ("word", rng.choice(WORDS))
    if kind == 1:
        return ("text", rng.choice(TEXTS))
    return ("int", rng.randrange(-3, 6))


def source(key):
    kind, v = key
    if kind == "word":
        return "'" + v
    if kind == "text":
        return '"' + v + '"'
    return str(v)


def norm(key):
    kind, v = key
    return (kind, v.lower()) if kind in ("word", "text") else key


def stored(key):
    """How a stored key molds when find gives it back or keys-of lists it."""
    kind, v = key
    if kind == "text":
        return '"' + v + '"'
    return str(v)


class MapModel:
    def __init__(self):
        self.entries = []  # [normalised key, first spelling, value, live]
        self.at = {}

    def put(self, key, value):
        n = norm(key)
        if n in self.at:
            e = self.entries[self.at[n]]
            e[2], e[3] = value, True
        else:
            self.at[n] = len(self.entries)
            self.entries.append([n, key, value, True])

    def get(self, key):
        i = self.at.get(norm(key))
        return None if i is None or not self.entries[i][3] else self.entries[i]

    def remove(self, key):
        e = self.get(key)
        if e:
            e[3] = False

    def live(self):
        return [e for e in self.entries if e[3]]


rng = random.Random(SEED)
model = MapModel()
lines, expected = ["m: make map! []"], []
for step in range(STEPS):
    op = rng.randrange(6)
    key = random_key(rng)
    if op <= 1:
        value = rng.randrange(1000)
        lines.append(f"put m {source(key)} {value}")
        model.put(key, value)
        continue
    if op == 2:
        lines.append(f"remove/key m {source(key)}")
        model.remove(key)
        continue
    if op == 3:
        lines.append(f"print mold select m {source(key)}")
        e = model.get(key)
        expected.append(str(e[2]) if e else "none")
    elif op == 4:
        lines.append(f"print mold find m {source(key)}")
        e = model.get(key)
        expected.append(stored(e[1]) if e else "none")
    else:
        lines.append("print length? m")
        expected.append(str(len(model.live())))
lines.append("print mold/flat keys-of m")
expected.append("[" + " ".join(stored(e[1]) for e in model.live()) + "]")
lines.append("print mold/flat values-of m")
expected.append("[" + " ".join(str(e[2]) for e in model.live()) + "]")
# Removing keys while foreach walks the map: each live key is met once, in order, and a key
# removed before the walk reaches it is not met.
lines.append("seen: copy [] foreach [k v] m [append seen v remove/key m k "
             "if k2: find m first keys-of m [remove/key m k2]] print mold/flat seen")
walk, entries = [], model.entries
for i, e in enumerate(entries):
    if not e[3]:
        continue
    walk.append(str(e[2]))
    e[3] = False
    rest = model.live()
    if rest:
        rest[0][3] = False
expected.append("[" + " ".join(walk) + "]")

code, out = run_script("map_model.zel", "\n".join(lines) + "\n")
check(code == 0, f"map model script exits 0, got {code}: {out[-3:]}")
for i, (got, want) in enumerate(zip(out, expected)):
    if got != want:
        check(False, f"map model, check {i + 1}: want {want!r}, got {got!r}")
        break
check(len(out) == len(expected), f"map model: {len(expected)} lines expected, got {len(out)}")


# ---- hash! ------------------------------------------------------------------------------------

rng = random.Random(SEED + 1)
VALUES = list(range(8)) + ["a", "b", "c"]


def zel_value(v):
    return str(v) if isinstance(v, int) else "'" + v


def molded(v):
    return str(v)


items = []
lines, expected = ["h: make hash! []"], []
for step in range(STEPS):
    op = rng.randrange(9)
    v = rng.choice(VALUES)
    if op <= 1:
        lines.append(f"append h {zel_value(v)}")
        items.append(v)
    elif op == 2:
        at = rng.randrange(len(items) + 1)
        lines.append(f"insert at h {at + 1} {zel_value(v)}")
        items.insert(at, v)
    elif op == 3 and items:
        at = rng.randrange(len(items))
        n = rng.randrange(1, 4)
        lines.append(f"remove/part at h {at + 1} {n}")
        del items[at:at + n]
    elif op == 4 and items:
        at = rng.randrange(len(items))
        lines.append(f"poke h {at + 1} {zel_value(v)}")
        items[at] = v
    elif op == 5 and items:
        at = rng.randrange(len(items))
        lines.append(f"change at h {at + 1} {zel_value(v)}")
        items[at] = v
    elif op == 6 and rng.randrange(4) == 0:
        if all(isinstance(x, int) for x in items):
            lines.append("sort h")
            items.sort()
        else:
            lines.append("h: copy h")
    elif op == 7 and items and rng.randrange(3) == 0:
        lines.append("take/last h")
        items.pop()
    else:
        start = rng.randrange(len(items) + 1)
        lines.append(f"print either f: find at h {start + 1} {zel_value(v)} [index? f] [0]")
        found = next((i for i in range(start, len(items)) if items[i] == v), None)
        expected.append(str(found + 1 if found is not None else 0))
lines.append("print mold/flat to block! h")
expected.append("[" + " ".join(molded(x) for x in items) + "]")

code, out = run_script("hash_model.zel", "\n".join(lines) + "\n")
check(code == 0, f"hash model script exits 0, got {code}: {out[-3:]}")
for i, (got, want) in enumerate(zip(out, expected)):
    if got != want:
        check(False, f"hash model, check {i + 1}: want {want!r}, got {got!r}")
        break
check(len(out) == len(expected), f"hash model: {len(expected)} lines expected, got {len(out)}")

finish()
