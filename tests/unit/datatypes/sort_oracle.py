"""Expected results of string sorts, from Python's stable sorted().

Each line: "case reverse all skip offset input expected", the texts as comma-separated hex code
points ("." when empty). Letter case folds through the single-character upper-case mapping (a
code point whose upper case is several characters keeps itself). Records are skip code points;
they are ordered by the code point at offset (1-based) or, with all, by the whole record.
Inputs come from a fixed seed and mix every unit width.
"""
import random

ALPHABETS = [
    "aAbBcCzZ_^`[]019 ",
    "aA\u00e9\u00c9\u00e0\u00c0\u00ff\u00b5xX_",
    "\u03b1\u0391\u03b2\u0392\u03c2\u03a3\u03c3\u0430\u0410\u20ac\u4e2d",
    "aA\U0001f600\U0001f601\u00e9\u00c9\u20ac",
    "ab",
]


def fold(c):
    u = c.upper()
    return u if len(u) == 1 else c


def hexes(s):
    return ",".join("%X" % ord(c) for c in s) or "."


def main():
    rng = random.Random(2024)
    for _ in range(400):
        alphabet = rng.choice(ALPHABETS)
        skip = rng.choice([1, 1, 1, 2, 3])
        records = rng.randrange(0, 60 if rng.random() < 0.8 else 400)
        text = "".join(rng.choice(alphabet) for _ in range(records * skip))
        case = rng.random() < 0.4
        reverse = rng.random() < 0.3
        every = skip > 1 and rng.random() < 0.3
        offset = rng.randrange(1, skip + 1) if skip > 1 and not every else 1
        key_of = (lambda c: c) if case else fold
        recs = [text[i:i + skip] for i in range(0, len(text), skip)]
        if every:
            key = lambda r: [ord(key_of(c)) for c in r]
        else:
            key = lambda r: ord(key_of(r[offset - 1]))
        out = "".join(sorted(recs, key=key, reverse=reverse))
        print(int(case), int(reverse), int(every), skip, offset, hexes(text), hexes(out))


main()
