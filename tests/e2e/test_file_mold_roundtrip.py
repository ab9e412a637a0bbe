"""file! mold reads back: for random names of printable and control characters, spaces, quotes,
"^", "%" and non-ASCII text, `load mold f` gives the same name (strictly equal), and the name is
written between double quotes exactly when it holds a character below 127 outside the URL set
or one that would end a bare file name. The names reach zel as escaped string! literals, so the
test does not depend on the mold it checks. One zel process runs the whole table."""
import random

from zeltest import run_script, check, finish

URL_SET = set("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-._~!#$&'*+,/=?")
# Also in the URL set, but each ends a bare file name, so they are quoted too.
BARE_ENDERS = set("():@")

rng = random.Random(2101)
POOLS = [
    [chr(c) for c in range(0x20, 0x7F)],                   # printable ASCII
    [chr(c) for c in range(0x00, 0x20)] + ["\x7f"],         # control characters
    [" ", '"', "^", "%", "/", ";", "{", "}", "[", "]"],     # the awkward ones
    list("éüßøñçàЖжЯ中文字日本語한국") + ["\u00a0", "\u2028", "😀", "\u0085", "\u009f"],
]


def random_name():
    n = rng.randint(1, 12)
    return "".join(rng.choice(rng.choice(POOLS)) for _ in range(n))


def literal(name):
    # Every character as ^(hex): nothing of the string is left to chance.
    return '"' + "".join(f"^({ord(c):X})" for c in name) + '"'


names = [random_name() for _ in range(400)]
names += ['a"b', "a^b", "l1\nl2", "tab\there", "", "plain/name.txt", "é", "a b", "%41", "\x00"]
script = ["Zel []"]
for name in names:
    script.append(f"f: to file! {literal(name)}")
    script.append("m: mold f")
    script.append('print [strict-equal? f load m  #"^"" = pick m 2  length? f]')
lines = run_script(script)[:-1]
check(len(lines) == len(names), f"one line per name: {len(lines)} of {len(names)}")
for name, line in zip(names, lines):
    same, quoted, length = line.split()
    check(same == "true", f"load mold of {name!r} gives the same name")
    want_quotes = name == "" or any(ord(c) < 127 and (c not in URL_SET or c in BARE_ENDERS)
                                    for c in name)
    check((quoted == "true") == want_quotes, f"{name!r} quoted: {quoted}, wanted {want_quotes}")
    check(int(length) == len(name), f"{name!r} keeps its {len(name)} characters, not {length}")
finish()
