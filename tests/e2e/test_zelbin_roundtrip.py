"""Serialized values: every datatype with a record saved and loaded back equal, in the compact
and the plain form, also when every allocation collects first; and thousands of damaged
encodings (bits flipped, bytes cut, bytes inserted) that must each load or fail with a language
error, never crash or hang."""
import os
import random
import tempfile

from zeltest import run, check, finish

tmp = tempfile.mkdtemp(prefix="zel-zelbin-")
ROUND_TRIP = r"""
values: reduce [
    integer! none true false #"x" #"^(1F600)" 0 63 64 -1 2147483647 -2147483648 2.0 0.5 -0.0 1e300
    10% 0.5% 12:30:45.5 -1:00 1x2 -5x7 (1.5, 2) (1, 2, 3) 1-Jan-2020 5-Feb-2021/10:00:00+02:00
    make typeset! [integer! block!] 1.2.3 1.2.3.4.5.6.7.8.9.10.11.12 $1.50 -$2.25 USD$3
    #iss 'lit-w first [set-w:] first [:get-w] first [/refine] first [a/b/c] 'a/b first [c/d:] first [:e/f] first [(1 + 2)]
    "plain" "ünïcödé" "emoji 😀" %file.txt http://x.y/z <tag a="1"> me@you.com @ref
    #{DEADBEEF} charset "abc" complement charset "xyz" make vector! [integer! 16 [1 2 3]]
    make vector! [float! 64 [1.5 2.5]] make hash! [a 1 b 2] make map! [k "v" 2 [3]]
    make object! [a: 1 b: [2 3] c: make object! [d: "e"]] :append :+ next [1 2 3] next "abc"
    func [x /local y] [y: x * 2 y + 1] make op! func [a b] [a - b]
]
foreach compact reduce [true false] [
    system/codecs/zelbin/compact?: compact
    foreach v values [
        b: save/as none :v 'zelbin
        back: load/as b 'zelbin
        ok: either any [action? :v op? :v function? :v] [equal? mold :v mold :back] [equal? :v :back]
        unless ok [print ["MISMATCH" compact type? :v mold :v mold :back]]
    ]
    b: save/as none values 'zelbin
    back: load/as b 'zelbin
    print [compact length? back length? b]
]

"""


def script(name, text, env=None, timeout=300):
    path = os.path.join(tmp, name)
    with open(path, "w", encoding="utf-8") as f:
        f.write("Zel []\n" + text)
    r = run([path], env=env, timeout=timeout)
    out = r.stdout.decode("utf-8", "replace")
    check(r.returncode == 0, f"{name}: exit 0, got {r.returncode}: {out[-400:]!r}")
    return out


for env in (None, {"ZEL_GC_STRESS": "1"}):
    out = script("roundtrip.zel", ROUND_TRIP, env)
    check("MISMATCH" not in out, f"round trip ({env}): {out[-600:]!r}")
    check("true 64" in out and "false 64" in out, f"round trip ({env}): {out[-300:]!r}")

# Damaged encodings of a value with every kind of record, both forms.
out = script("encode.zel", ROUND_TRIP + """
foreach compact reduce [true false] [
    system/codecs/zelbin/compact?: compact
    print enbase/base save/as none values 'zelbin 16
]
""")
lines = [l for l in out.splitlines() if l and all(c in "0123456789ABCDEF" for c in l)]
check(len(lines) == 2, f"two encodings, got {len(lines)}")
rng = random.Random(4120)
cases = []
for line in lines:
    good = bytes.fromhex(line)
    for _ in range(300):
        d = bytearray(good)
        kind = rng.randrange(3)
        if kind == 0:
            for _ in range(rng.randrange(1, 4)):
                i = rng.randrange(8, len(d))
                d[i] ^= 1 << rng.randrange(8)
        elif kind == 1:
            d = d[:rng.randrange(11, len(d))]
        else:
            i = rng.randrange(8, len(d))
            d[i:i] = bytes(rng.randrange(256) for _ in range(rng.randrange(1, 5)))
        cases.append(bytes(d))
lines = ["n: 0"]
lines += [f"r: try [load/as #{{{c.hex()}}} 'zelbin] n: n + 1" for c in cases]
lines += ["print n"]
out = script("damaged.zel", "\n".join(lines) + "\n", timeout=600)
check(out.strip().splitlines()[-1:] == [str(len(cases))], f"damaged: all {len(cases)} handled: {out[-300:]!r}")
finish()
