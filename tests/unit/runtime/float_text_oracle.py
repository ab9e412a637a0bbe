#!/usr/bin/env python3
"""Reference data for the float/text tests, printed one case per line.

doubles: <bits hex> <shortest digits> <point> <%.5g> <%.7g> <%.13g> <%.14g> <%.16g> <%.17g>
         <%.1g> <22 digits> <point>
texts:   <text> <bits hex of float(text)>

Digits are without sign, leading or trailing zeros; the point says where the decimal point goes
relative to the first digit ("15" with point 1 is 1.5). The sample is fixed by the seed.
"""
import math
import random
import struct
import sys
from decimal import Decimal, getcontext

rnd = random.Random(1116)
getcontext().prec = 2000


def from_bits(b):
    return struct.unpack("<d", struct.pack("<Q", b))[0]


def to_bits(x):
    return struct.unpack("<Q", struct.pack("<d", x))[0]


def digits_and_point(text):
    """Digits and point of a text like '1.2345e+07' or '0.00012'."""
    mantissa, _, exp = text.partition("e")
    whole, _, frac = mantissa.partition(".")
    digits = whole + frac
    point = len(whole) + int(exp or 0)
    stripped = digits.lstrip("0")
    point -= len(digits) - len(stripped)
    return stripped.rstrip("0"), point


def sample_doubles():
    bits = []
    for _ in range(15000):  # every exponent equally likely
        b = rnd.getrandbits(63)
        if b >> 52 != 0x7FF:
            bits.append(b)
    for _ in range(2000):
        bits.append(rnd.getrandbits(52) or 1)  # subnormals
    for e in range(-1074, 1024):
        bits.append(to_bits(math.ldexp(1.0, e)))
    for k in range(-323, 309):  # powers of ten and their neighbours
        b = to_bits(float("1e%d" % k))
        bits += [b - 1, b, b + 1]
    for _ in range(6000):  # short decimals, where ties and carries happen
        x = rnd.randrange(1, 10 ** rnd.randint(1, 17)) / 10 ** rnd.randint(0, 22)
        bits.append(to_bits(x))
    for _ in range(2000):  # integers, including the quick path's limit
        bits.append(to_bits(float(rnd.randrange(1, 10 ** rnd.randint(1, 17)))))
    for x in (1e15 - 1, 1e15, 1e15 + 1, 2.0**53, 2.0**53 - 1, 1e16, 1e17, 1e18, 1e-7, 1e-8):
        bits.append(to_bits(x))
    bits += [1, 0x000FFFFFFFFFFFFF, 0x0010000000000000, 0x7FEFFFFFFFFFFFFF]
    return bits


def doubles():
    out = []
    for b in sample_doubles():
        if rnd.getrandbits(1):
            b |= 1 << 63
        x = from_bits(b)
        d, p = digits_and_point(repr(abs(x)))
        fixed = ["%.5g", "%.7g", "%.13g", "%.14g", "%.16g", "%.17g", "%.1g"]
        row = ["%016x" % b, d, str(p)] + [f % x for f in fixed]
        d22, p22 = digits_and_point("%.21e" % abs(x))
        out.append(" ".join(row + [d22, str(p22)]))
    print("\n".join(out))


def exact(x):
    return Decimal(x)


def texts():
    out = []

    def add(t):
        out.append("%s %016x" % (t, to_bits(float(t))))

    for _ in range(6000):  # round trips
        x = from_bits(rnd.getrandbits(63))
        if math.isfinite(x):
            add(repr(x))
    for _ in range(6000):  # random digit strings of every length up to 60
        n = rnd.randint(1, 60)
        digits = "".join(rnd.choice("0123456789") for _ in range(n))
        cut = rnd.randint(0, n)
        t = digits[:cut] + "." + digits[cut:] if cut < n else digits
        if t == ".":
            t = "0"
        e = rnd.randint(-360, 330)
        add(t + ("e%d" % e if rnd.random() < 0.9 else ""))
    # Halfway points between neighbouring doubles, exactly, and just above and below them.
    # Past 800 significant digits only the presence of a non-zero digit can decide.
    picks = [rnd.getrandbits(63) for _ in range(600)]
    picks += [rnd.getrandbits(52) for _ in range(200)]
    picks += [0, 1, 0x000FFFFFFFFFFFFF, 0x0010000000000000, 0x7FEFFFFFFFFFFFFF]
    for b in picks:
        if b >> 52 >= 0x7FF:
            continue
        lo, hi = exact(from_bits(b)), (
            exact(from_bits(b + 1)) if b < 0x7FEFFFFFFFFFFFFF else Decimal(2) ** 1024
        )
        half = (lo + hi) / 2
        text = "{:e}".format(half)
        mantissa, _, exp = text.partition("e")
        add(text)
        add(mantissa + "0" * 900 + "1e" + exp)  # just above, decided past the kept digits
        if "." in mantissa:
            below = mantissa.rstrip("0")
            last = int(below[-1])
            if last > 0:
                add(below[:-1] + str(last - 1) + "9" * 30 + "e" + exp)
    for t in [
        "0", "-0", "+0.0", ".5", "5.", "000123.4500", "-.25E+2", "1E22", "1e23",
        "9007199254740993", "9007199254740992.5", "1.7976931348623157e308",
        "1.7976931348623158e308", "1.7976931348623159e308", "2.2250738585072011e-308",
        "2.2250738585072012e-308", "4.9e-324", "2.4703282292062328e-324",
        "2.4703282292062327e-324", "1e309", "1e-400", "-1e-400", "0.000000000000000000001",
        "123456789012345678901234567890123456789012345678901234567890e-40",
    ]:
        add(t)
    print("\n".join(out))


if __name__ == "__main__":
    {"doubles": doubles, "texts": texts}[sys.argv[1]]()
