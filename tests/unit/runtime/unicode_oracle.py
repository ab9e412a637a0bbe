"""Expected data for the Unicode unit tests, from Python's own codecs and case mapping.

Modes:
  case   "version V" then "cp upper lower" for every code point whose str.upper() or str.lower()
         differs from itself; a mapping to several characters is written as "-".
  utf8   lines "input strict escaped replace-count": hex bytes, the code points of a strict
         decode ("!" when it fails), the code points of a surrogateescape decode, and the length
         of a decode with replacement characters. Inputs are valid text, random bytes and
         damaged text, from a fixed seed.
  utf16  lines "code-points utf16le-bytes" for random texts of all planes.
"""
import random
import sys


def cps(text):
    return ",".join("%X" % ord(c) for c in text) or "."


def case_mode():
    import unicodedata

    print("version", unicodedata.unidata_version)
    for cp in range(0x110000):
        c = chr(cp)
        up, lo = c.upper(), c.lower()
        if up == c and lo == c:
            continue
        u = "%X" % ord(up) if len(up) == 1 else "-"
        l = "%X" % ord(lo) if len(lo) == 1 else "-"
        print("%X %s %s" % (cp, u, l))


def random_text(rng, n):
    planes = [(0x20, 0x7F), (0x80, 0x800), (0x800, 0xD800), (0xE000, 0x10000), (0x10000, 0x110000)]
    out = []
    for _ in range(n):
        lo, hi = rng.choice(planes)
        out.append(chr(rng.randrange(lo, hi)))
    return "".join(out)


def utf8_inputs(rng):
    tricky = [
        b"", b"\xef\xbb\xbf", b"\xef\xbb\xbfA", b"\xc3", b"\xc3\xa9", b"\xe2\x82", b"\xe2A",
        b"\xe2\x82A", b"\xed\xa0\x80", b"\xed\xb3\x80", b"\xc0\xaf", b"\xc1\xbf", b"\xe0\x80\xaf",
        b"\xf0\x80\x80\xaf", b"\xf4\x90\x80\x80", b"\xf5\x80\x80\x80", b"\xff", b"\x80\x80",
        b"\xf0\x9f\x98", b"\xf0\x9f\x98\x80", b"\xf4\x8f\xbf\xbf", b"a\xedb", b"\xee\x80\x80",
    ]
    for t in tricky:
        yield t
    for _ in range(3000):
        kind = rng.randrange(4)
        if kind == 0:
            yield random_text(rng, rng.randrange(1, 12)).encode("utf-8")
        elif kind == 1:
            yield bytes(rng.randrange(256) for _ in range(rng.randrange(1, 10)))
        else:
            b = bytearray(random_text(rng, rng.randrange(1, 8)).encode("utf-8"))
            for _ in range(rng.randrange(1, 3)):
                i = rng.randrange(len(b))
                if kind == 2:
                    b[i] = rng.choice([0x80, 0xBF, 0xC0, 0xE0, 0xED, 0xF0, 0xF4, 0xF8, 0x41])
                else:
                    del b[i]
                    if not b:
                        break
            yield bytes(b)


def utf8_mode():
    rng = random.Random(1117)
    for data in utf8_inputs(rng):
        try:
            strict = cps(data.decode("utf-8"))
        except UnicodeDecodeError:
            strict = "!"
        escaped = cps(data.decode("utf-8", "surrogateescape"))
        replaced = len(data.decode("utf-8", "replace"))
        print(data.hex() or ".", strict, escaped, replaced)


def utf16_mode():
    rng = random.Random(2108)
    for _ in range(500):
        text = random_text(rng, rng.randrange(0, 10))
        if rng.randrange(4) == 0:
            text += "\r\n"
        print(cps(text), text.encode("utf-16-le").hex() or ".")


if __name__ == "__main__":
    {"case": case_mode, "utf8": utf8_mode, "utf16": utf16_mode}[sys.argv[1]]()
