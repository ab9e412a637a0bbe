"""Math and base-conversion natives against Python's own: math (the same C library, so results
must agree to the bit), base64 and binascii, urllib's percent codec, and a small base-58
reference. One zel process runs the whole table."""
import base64
import binascii
import math
import os
import random
import struct
import tempfile
import urllib.parse

from zeltest import run, check, finish

tmp = tempfile.mkdtemp(prefix="zel-math-")
home = {"HOME": tmp, "XDG_CONFIG_HOME": os.path.join(tmp, "config")}

PI = 3.141592653589793
E = 2.718281828459045
LN2 = 0.6931471805599453
EPS = 2.220446049250313e-16
INF = float("inf")
NAN = float("nan")


def literal(x):
    if isinstance(x, int):
        return str(x)
    if math.isnan(x):
        return "1.#NaN"
    if math.isinf(x):
        return "1.#INF" if x > 0 else "-1.#INF"
    return repr(x).replace("e+", "e")


def parse_float(text):
    return {"1.#INF": INF, "-1.#INF": -INF, "1.#NaN": NAN}.get(text) or float(text)


def same_float(a, b):
    if math.isnan(a) or math.isnan(b):
        return math.isnan(a) and math.isnan(b)
    return struct.pack("<d", a) == struct.pack("<d", b)


def guarded(f):
    """A libm call as C answers it: Python raises where C gives NaN or infinity."""
    def call(*args):
        try:
            return f(*args)
        except OverflowError:
            return INF
        except ValueError:
            x = args[0]
            if f in (math.log, math.log10) and x == 0:
                return -INF
            return NAN
    return call


sin, cos, tan = guarded(math.sin), guarded(math.cos), guarded(math.tan)
asin, acos, atan = guarded(math.asin), guarded(math.acos), guarded(math.atan)
log, log10, sqrt, pow_ = guarded(math.log), guarded(math.log10), guarded(math.sqrt), guarded(math.pow)


def fold(x, kind):
    """Degrees to radians, folded into the range where the exact angles stay exact."""
    b = math.fmod(x, 360.0) if not math.isinf(x) else NAN
    if b > 180 or b < -180:
        b += -360 if b >= 0 else 360
    if b > 90 or b < -90:
        if kind == "tan":
            b += -180 if b >= 0 else 180
        elif kind == "sin":
            b = 180 - b if b >= 0 else -180 - b
    return b * PI / 180


def snap(r):
    return 0.0 if abs(r) < EPS else r


def tangent(r):
    if r == PI / 2:
        return INF
    if r == PI / -2:
        return -INF
    return tan(r)


def degrees(r):
    return r * 180.0 / PI


ANGLES = [0, 1, -1, 30, 45, 60, 90, -90, 180, -180, 270, 360, 390, 720, -450, 0.0, -0.0, 0.5,
          89.99999, 1e-20, 1e300, -1e300, INF, NAN, 123456.789]
UNIT = [0, 1, -1, 0.5, -0.5, 0.0, -0.0, 1.0000001, -2, 2, 1e-300, 0.9999999999999999, INF, NAN]
WIDE = [0, 1, 2, 8, -1, 0.0, -0.0, 0.5, 1e-300, 5e-324, 1e300, 1.7976931348623157e308, 709.78,
        710, -745.2, -746, 1000, INF, -INF, NAN, 2147483647, -2147483648]
RADIANS = [0.0, PI, PI / 2, PI / -2, -PI, 1e-20, 3.0, -7.5, 1e16, INF, NAN]

cases = []  # (zel expression, expected float)
for x in ANGLES:
    cases += [(f"sine {literal(x)}", snap(sin(fold(x, "sin")))),
              (f"cosine {literal(x)}", snap(cos(fold(x, "cos")))),
              (f"tangent {literal(x)}", tangent(fold(x, "tan")))]
for x in RADIANS:
    cases += [(f"sine/radians {literal(x)}", snap(sin(x))),
              (f"cosine/radians {literal(x)}", snap(cos(x))),
              (f"tangent/radians {literal(x)}", tangent(x))]
for x in UNIT + [1e300, -INF]:
    cases += [(f"arcsine {literal(x)}", degrees(asin(x))),
              (f"arccosine {literal(x)}", degrees(acos(x))),
              (f"arctangent {literal(x)}", degrees(atan(x))),
              (f"arcsine/radians {literal(x)}", asin(x)),
              (f"arccosine/radians {literal(x)}", acos(x)),
              (f"arctangent/radians {literal(x)}", atan(x))]
for y, x in [(1, 0), (0, 1), (0, -1), (-1, 0), (0.0, 0), (-0.0, -1), (0.0, -0.0), (1, 1),
             (-1, -1), (3, -4), (INF, INF), (-INF, 1), (1, -INF), (NAN, 1), (1e-300, 1e300)]:
    cases += [(f"arctangent2 {literal(y)} {literal(x)}", degrees(math.atan2(y, x))),
              (f"arctangent2/radians {literal(y)} {literal(x)}", math.atan2(y, x))]
for x in WIDE:
    ln = log(x)
    cases += [(f"log-2 {literal(x)}", ln / LN2),
              (f"log-10 {literal(x)}", log10(x)),
              (f"log-e {literal(x)}", ln),
              (f"exp {literal(x)}", pow_(E, x)),
              (f"square-root {literal(x)}", sqrt(x))]
# percent! counts by its fraction.
for p, f in [("50%", 0.5), ("-25%", -0.25), ("0%", 0.0), ("1000%", 10.0)]:
    cases += [(f"log-2 {p}", log(f) / LN2), (f"exp {p}", pow_(E, f)),
              (f"square-root {p}", sqrt(f)), (f"log-10 {p}", log10(f))]

# Shifts and hexadecimal: 32-bit two's complement.
def signed32(n):
    n &= 0xFFFFFFFF
    return n - (1 << 32) if n & 0x80000000 else n


int_cases = []  # (zel expression, expected text)
for data in [0, 1, -1, 8, -8, 255, 0x12345678, -0x12345678, 2147483647, -2147483648]:
    for bits in [-5, 0, 1, 4, 28, 31, 32, 33, 100]:
        b = max(bits, 0)
        int_cases += [
            (f"shift {data} {bits}", str(data >> min(b, 31) if b < 32 else (-1 if data < 0 else 0))),
            (f"shift/logical {data} {bits}", str(signed32((data & 0xFFFFFFFF) >> b) if b < 32 else 0)),
            (f"shift/left {data} {bits}", str(signed32(data << b) if b < 32 else 0))]
    int_cases.append((f"mold to-hex {data}", "#" + format(data & 0xFFFFFFFF, "08X")))
    for size in [1, 3, 7, 8, 9]:
        int_cases.append((f"mold to-hex/size {data} {size}",
                          "#" + format(data & 0xFFFFFFFF, "08X")[-min(size, 8):]))

# Base codecs.
B58 = "123456789ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz"


def b58encode(data):
    n = int.from_bytes(data, "big")
    out = ""
    while n:
        n, r = divmod(n, 58)
        out = B58[r] + out
    return "1" * (len(data) - len(data.lstrip(b"\0"))) + out


def b58decode(text):
    n = 0
    for c in text:
        n = n * 58 + B58.index(c)
    body = n.to_bytes((n.bit_length() + 7) // 8, "big") if n else b""
    return b"\0" * (len(text) - len(text.lstrip("1"))) + body


rng = random.Random(17)
blobs = [b"", b"\0", b"\0\0\x01", b"a", b"ab", b"abc", b"abcd", b"\xff" * 7, b"\0\xff\0"]
blobs += [bytes(rng.randrange(256) for _ in range(n)) for n in (5, 31, 64, 100)]
text_cases = []  # (zel expression, expected text)
for blob in blobs:
    lit = "#{" + blob.hex() + "}"
    expect = {64: base64.b64encode(blob).decode(), 16: binascii.hexlify(blob).decode().upper(),
              2: "".join(format(b, "08b") for b in blob), 58: b58encode(blob)}
    for base, text in expect.items():
        text_cases.append((f"enbase/base {lit} {base}", text or "none"))
        text_cases.append((f"mold/flat debase/base {{{text}}} {base}", "#{" + blob.hex().upper() + "}"))
    text_cases.append((f"enbase {lit}", expect[64] or "none"))
# Published base-58 vectors, both ways.
for blob, text in [(b"Hello World!", "2NEpo7TZRRrLZSi2U"),
                   (b"The quick brown fox jumps over the lazy dog.",
                    "USm3fpXnKG5EUBx2ndxBDMPVciP5hGey2Jh4NDv6gmeo1LkMeiKrLJUUBk6Z"),
                   (bytes.fromhex("000000287fb4cd"), "111233QC4"),
                   (bytes.fromhex("00eb15231dfceb60925886b67d065299925915aeb172c06647"),
                    "1NS17iag9jJgTHD1VXjvLCEnZuQ3rJDE9L")]:
    assert b58encode(blob) == text and b58decode(text) == blob
    text_cases += [(f"enbase/base #{{{blob.hex()}}} 58", text),
                   (f"mold/flat debase/base {{{text}}} 58", "#{" + blob.hex().upper() + "}")]
# A string is encoded as its UTF-8.
for s in ["héllo wörld", "日本語", "a"]:
    text_cases.append((f"enbase {{{s}}}", base64.b64encode(s.encode()).decode()))

# Percent codec: string! keeps the unreserved characters, the other text types the URL set.
URL_SAFE = "!#$&'()*+,/:=?@"
for s in ["a b", "a/b?c=d&e", "100% sure", "é~_-.", "日本", "tab\there", "x;y<z>", "*(!)"]:
    text_cases += [(f"enhex {{{s}}}", urllib.parse.quote(s, safe="")),
                   (f"enhex to url! {{{s}}}", urllib.parse.quote(s, safe=URL_SAFE)),
                   (f"dehex {{{urllib.parse.quote(s, safe='')}}}", s)]

exprs = [e for e, _ in cases] + [e for e, _ in int_cases] + [e for e, _ in text_cases]
lines = [f"print mold/all {e}" for e, _ in cases] + [f"print {e}" for e, _ in int_cases + text_cases]
path = os.path.join(tmp, "oracle.zel")
with open(path, "w", encoding="utf-8") as f:
    f.write("Zel []\n" + "\n".join(lines) + "\n")
r = run([path], env=home)
got = r.stdout.decode("utf-8", "replace").split("\n")
check(r.returncode == 0, f"oracle script exit 0, got {r.returncode}: {r.stderr.decode()[-400:]}")
check(len(got) >= len(exprs), f"one output line per case: {len(got)} for {len(exprs)}")

for i, (expr, want) in enumerate(cases):
    text = got[i] if i < len(got) else ""
    try:
        value = parse_float(text)
    except ValueError:
        check(False, f"{expr}: not a float: {text!r}")
        continue
    check(same_float(value, want), f"{expr}: got {text}, Python gives {want!r}")
for j, (expr, want) in enumerate(int_cases + text_cases, len(cases)):
    text = got[j] if j < len(got) else ""
    check(text == want, f"{expr}: got {text!r}, expected {want!r}")

finish()
