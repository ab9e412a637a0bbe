"""Percent encoding and decoding against Python's urllib.parse on random texts.

- `enhex` of a string! keeps the unreserved set only: quote(s, safe="").
- `enhex` of a url! keeps the URL set: quote(s, safe="!#$&'()*+,/:=?@").
- mold of a url! keeps the URL set but "(" and ")", which end a url token when read back:
  quote(s, safe="!#$&'*+,/:=?@") (a difference from quote with the whole URL set).
- `dehex` of any text whose escapes form whole UTF-8 sequences: unquote(s). Where they do not,
  the results differ on purpose, as the table at the end names: a sequence of the right length
  that is not UTF-8 gives U+FFFE once (unquote: U+FFFD per byte), and an escape that starts a
  sequence the text does not finish stays as it is written (unquote: U+FFFD).
One zel process runs the whole table; texts reach it as ^(hex) escapes, results come back as
code point numbers."""
import random
from urllib.parse import quote, unquote

from zeltest import run_script, check, finish

rng = random.Random(2102)
POOL = ([chr(c) for c in range(0x20, 0x7F)] * 3 + [chr(c) for c in range(0x01, 0x20)] +
        list("éüßЖ中文한😀") + ["\x7f", "\u0085", "\u00a0", "\ufeff"])


def random_text():
    return "".join(rng.choice(POOL) for _ in range(rng.randint(0, 16)))


def random_escaped():
    # Literal characters, whole escaped UTF-8 sequences and stray or broken "%" forms.
    parts = []
    for _ in range(rng.randint(0, 8)):
        k = rng.randrange(4)
        if k == 0:
            parts.append(rng.choice(POOL))
        elif k == 1:
            parts.append(quote(rng.choice(POOL), safe=""))
        elif k == 2:
            parts.append(rng.choice(["%", "%z", "%4", "%zz", "%%", "%g0", "%2"]))
        else:
            parts.append(quote(rng.choice(POOL), safe="").lower())
    text = "".join(parts)
    # A stray "%" may run into the next escape's digits and make another byte; keep only texts
    # whose escapes all give whole sequences, which unquote decodes as zel does.
    try:
        unquote(text, errors="strict")
    except UnicodeDecodeError:
        return None
    return text


def literal(text):
    return '"' + "".join(f"^({ord(c):X})" for c in text) + '"'


cases = []  # (zel expression, expected output line)
for _ in range(200):
    s = random_text()
    cases.append((f"enhex {literal(s)}", quote(s, safe="")))
    cases.append((f"enhex to url! {literal(s)}", quote(s, safe="!#$&'()*+,/:=?@")))
    cases.append((f"mold to url! {literal(s)}", quote(s, safe="!#$&'*+,/:=?@")))
    cases.append((f"codes dehex enhex {literal(s)}", " ".join(str(ord(c)) for c in s)))
n = 0
while n < 200:
    s = random_escaped()
    if s is None:
        continue
    n += 1
    cases.append((f"codes dehex {literal(s)}", " ".join(str(ord(c)) for c in unquote(s))))

# Named differences from unquote, each with what this system gives.
DIFFERENCES = [
    # A two-byte lead with a continuation byte that is not one: one U+FFFE for the sequence.
    ("%C3%28", [0xFFFE], "malformed sequence of full length"),
    # A lead byte whose sequence the text does not finish: the "%" stays literal.
    ("%C3x", [ord(c) for c in "%C3x"], "unfinished sequence"),
    ("%E2%82", [ord(c) for c in "%E2"] + [0x82], "sequence cut at the end"),
]
for text, want, why in DIFFERENCES:
    cases.append((f"codes dehex {literal(text)}", " ".join(map(str, want))))
    check(unquote(text) != "".join(map(chr, want)), f"{why}: unquote differs as named")

script = ["Zel []",
          'codes: func [s /local out][',
          '    out: copy "" foreach c s [append append out to integer! c " "] trim/tail out',
          ']']
for expr, _ in cases:
    script.append(f"print {expr}")
lines = run_script(script)
for i, (expr, want) in enumerate(cases):
    got = lines[i] if i < len(lines) else "<missing>"
    check(got == want, f"{expr}: got {got!r}, wanted {want!r}")
finish()
