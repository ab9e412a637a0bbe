#!/usr/bin/env python3
"""Expected values of literal texts, for the lexer tests: one case a line, the mode, the text and
the expected value separated by tabs. Modes: integers, floats, percents, times, dates, binaries;
no argument prints them all. The cases are drawn from a fixed seed, so every run prints the same
lines."""
import base64
import datetime
import random
import struct
import sys
from decimal import Decimal

rng = random.Random(20240229)


def group(digits):
    """Digits with apostrophes put in at random places (never two in a row)."""
    out = []
    for i, d in enumerate(digits):
        out.append(d)
        if i + 1 < len(digits) and rng.random() < 0.15:
            out.append("'")
    return "".join(out)


def bits(x):
    return struct.unpack("<Q", struct.pack("<d", x))[0]


def integers():
    edges = [0, 1, 9, 10, 2147483647, -2147483648, 2147483646, -2147483647, 1000000]
    values = edges + [rng.randint(-2**31, 2**31 - 1) for _ in range(300)]
    for v in values:
        digits = str(abs(v))
        text = ("-" if v < 0 else rng.choice(["", "+"])) + group(digits)
        print(f"{text}\tinteger {int(text.replace(chr(39), ''))}")
    # Beyond 32 bits (or more than 10 digits): a float of the same text.
    for v in [2147483648, -2147483649, 99999999999, 10**15 + 7] + \
            [rng.randint(2**31, 10**18) for _ in range(50)]:
        text = str(v)
        print(f"{text}\tfloat {bits(float(text))}")
    print(f"00000000001\tfloat {bits(1.0)}")


def float_texts():
    for _ in range(400):
        mantissa = str(rng.randint(0, 10**rng.randint(1, 19)))
        point = rng.randint(0, len(mantissa))
        whole, frac = mantissa[:point], mantissa[point:]
        if not whole and not frac:
            whole = "0"
        text = group(whole) if whole else ""
        text += "." + group(frac)
        if frac and rng.random() < 0.5:
            text += rng.choice(["e", "E"]) + rng.choice(["", "-", "+"]) + str(rng.randint(0, 330))
        text = rng.choice(["", "-", "+"]) + text
        plain = text.replace("'", "")
        if plain.lstrip("+-").startswith("."):
            continue
        yield text, plain


def floats():
    for text, plain in float_texts():
        print(f"{text}\tfloat {bits(float(plain))}")
    for text in ["0.1", "1e-320", "2.2250738585072014e-308", "1.7976931348623157e308",
                 "4.9406564584124654e-324", "0.30000000000000004", "123456789012345678901234"]:
        print(f"{text}\tfloat {bits(float(text))}")


def percents():
    for text, plain in float_texts():
        if "e" in plain.lower():
            continue  # an exponent before % ends the token elsewhere
        value = float(Decimal(plain).scaleb(-2))
        print(f"{text}%\tpercent {bits(value)}")


def times():
    for _ in range(200):
        h, m = rng.randint(0, 500), rng.randint(0, 59)
        s = rng.choice([None, rng.randint(0, 59), round(rng.uniform(0, 59.999), rng.randint(1, 6))])
        negative = rng.random() < 0.3
        text = ("-" if negative else "") + f"{h}:{m:02d}"
        seconds = 0.0
        if s is not None:
            stext = repr(s) if isinstance(s, float) else f"{s:02d}"
            text += ":" + stext
            seconds = float(stext)
        value = seconds + m * 60 + h * 3600
        print(f"{text}\ttime {bits(-value if negative else value)}")
    # minutes:seconds.fraction
    for _ in range(50):
        m, s = rng.randint(0, 59), round(rng.uniform(0, 59.9), 3)
        text = f"{m}:{s!r}"
        value = float(repr(s)) + m * 60
        print(f"{text}\ttime {bits(value)}")


MONTHS = ["January", "February", "March", "April", "May", "June", "July", "August",
          "September", "October", "November", "December"]


def date_case(text, d, t=None, zone=None):
    """The expected fields: year month day, then hh mm seconds zone-minutes, or '-'."""
    fields = f"date {d.year} {d.month} {d.day}"
    if t is None:
        fields += " -"
    else:
        hh, mm, ss = t
        fields += f" {hh} {mm} {ss!r} {zone if zone is not None else 0}"
    print(f"{text}\t{fields}")


def dates():
    start = datetime.date(1, 1, 1).toordinal()
    end = datetime.date(9999, 12, 31).toordinal()
    for _ in range(300):
        d = datetime.date.fromordinal(rng.randint(start, end))
        if d.year < 100:
            continue  # a first field below 100 is read as the day
        form = rng.randint(0, 5)
        if form == 0:
            text = f"{d.year:04d}-{d.month:02d}-{d.day:02d}"
        elif form == 1:
            name = MONTHS[d.month - 1][:rng.randint(3, len(MONTHS[d.month - 1]))]
            name = rng.choice([name, name.lower(), name.upper()])
            sep = rng.choice("-/")
            text = f"{d.day}{sep}{name}{sep}{d.year}"
        elif form == 2:
            text = f"{d.day}/{d.month}/{d.year}"
        elif form == 3:
            text = f"{d.year}/{d.month}/{d.day}"
        elif form == 4:
            y, w, wd = d.isocalendar()
            text = f"{y:04d}-W{w:02d}-{wd}"
        else:
            n = d.timetuple().tm_yday
            text = f"{d.year:04d}-{n:03d}"
        t = None
        zone = None
        if rng.random() < 0.5 and form not in (4, 5):
            hh, mm = rng.randint(0, 23), rng.randint(0, 59)
            sec = rng.choice([0, rng.randint(0, 59), round(rng.uniform(0, 59.9), 2)])
            stext = repr(sec) if isinstance(sec, float) else f"{sec:02d}"
            text += rng.choice("/T") + f"{hh}:{mm:02d}:{stext}"
            t = (hh, mm, float(stext))
            if rng.random() < 0.6:
                zone = rng.choice([-1, 1]) * rng.randint(0, 15 * 4) * 15
                zh, zm = divmod(abs(zone), 60)
                if zh > 15:
                    zh, zm, zone = 15, 0, 900 if zone > 0 else -900
                text += ("-" if zone < 0 else "+") + f"{zh:02d}:{zm:02d}"
        date_case(text, d, t, zone)
    # Two-digit years, compact forms.
    date_case("1-1-99", datetime.date(1999, 1, 1))
    date_case("31-12-49", datetime.date(2049, 12, 31))
    date_case("20200101T1200Z", datetime.date(2020, 1, 1), (12, 0, 0.0))
    date_case("20200101T120030", datetime.date(2020, 1, 1), (12, 0, 30.0))
    date_case("20200101T120030+0530", datetime.date(2020, 1, 1), (12, 0, 30.0), 330)


def binaries():
    for _ in range(200):
        data = bytes(rng.randrange(256) for _ in range(rng.randint(0, 40)))
        base = rng.choice([2, 16, 64])
        if base == 2:
            body = "".join(f"{b:08b}" for b in data)
        elif base == 16:
            body = data.hex()
            body = rng.choice([body, body.upper()])
        else:
            body = base64.b64encode(data).decode()
        # Blanks between digits, and a comment line.
        out = []
        for c in body:
            out.append(c)
            if rng.random() < 0.1:
                out.append(rng.choice([" ", "\\t", "\\n"]))
        text = "".join(out)
        if rng.random() < 0.2:
            text += " ; note\\n"
        prefix = rng.choice(["#", "16#"]) if base == 16 else f"{base}#"
        print(f"{prefix}{{{text}}}\tbinary {data.hex()}")


MODES = {"integers": integers, "floats": floats, "percents": percents, "times": times,
         "dates": dates, "binaries": binaries}

if __name__ == "__main__":
    real_print = print
    for name in sys.argv[1:] or MODES:
        print = lambda line, name=name: real_print(f"{name}\t{line}")
        MODES[name]()
