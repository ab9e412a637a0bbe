"""Expected data for the literal datatype tests, from Python's datetime and base64.

Modes:
  days    "D y m d n": n = the day number (days from 1 March of year 0, toordinal() + 305);
          "W y w wd Y M D": the ISO week date (y, w, wd) is the date Y-M-D;
          "O y n Y M D": day n of year y is the date Y-M-D.
  dates   "y m d zone-sign zone-hours zone-quarters stored-seconds|text": a date whose local
          calendar date and zone are given and whose stored time (local time minus the zone
          offset) is given, with the text it molds to. The local fields come from an instant
          moved into the zone by astimezone.
  times   "seconds|text": a time span and its text, hours and minutes from timedelta.
  codecs  "hex b2 b16 b58 b64" for random byte strings ("-" for an empty field).
"""
import base64
import datetime as dt
import random
import sys

MONTHS = ["Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"]


def seconds_text(s):
    if s < 0.000001:
        return "00"
    text = "%.6g" % s
    if len(text) == 1 or text[1] == ".":
        text = "0" + text
    return text


def days_mode(rng):
    fixed = [dt.date(1, 1, 1), dt.date(9999, 12, 31), dt.date(2000, 2, 29), dt.date(1900, 3, 1),
             dt.date(1970, 1, 1), dt.date(2024, 12, 31), dt.date(1600, 2, 29)]
    for _ in range(3000):
        fixed.append(dt.date.fromordinal(rng.randint(1, dt.date(9999, 12, 31).toordinal())))
    for d in fixed:
        print("D", d.year, d.month, d.day, d.toordinal() + 305)
    for _ in range(1000):
        y = rng.randint(1, 9998)
        weeks = dt.date(y, 12, 28).isocalendar()[1]
        w, wd = rng.randint(1, weeks), rng.randint(1, 7)
        d = dt.date.fromisocalendar(y, w, wd)
        print("W", y, w, wd, d.year, d.month, d.day)
    for y in (2020, 2021, 2026, 2032, 2037, 2004, 2015):
        for w in (1, 52, 53):
            for wd in (1, 7):
                if w == 53 and dt.date(y, 12, 28).isocalendar()[1] < 53:
                    continue
                d = dt.date.fromisocalendar(y, w, wd)
                print("W", y, w, wd, d.year, d.month, d.day)
    for _ in range(1000):
        y = rng.randint(1, 9998)
        n = rng.randint(1, 366 if (y % 4 == 0 and y % 100 != 0) or y % 400 == 0 else 365)
        d = dt.date(y, 1, 1) + dt.timedelta(days=n - 1)
        print("O", y, n, d.year, d.month, d.day)


def dates_mode(rng):
    for _ in range(600):
        quarters = rng.randint(-63, 63)
        zone = dt.timezone(dt.timedelta(minutes=15 * quarters))
        millis = rng.choice([0, 0, 500, 250, rng.randint(0, 999)])
        instant = dt.datetime(rng.randint(1, 9998), 1, 1, tzinfo=dt.timezone.utc) + dt.timedelta(
            days=rng.randint(0, 364), seconds=rng.randint(0, 86399), milliseconds=millis)
        local = instant.astimezone(zone)
        offset = quarters * 900
        local_seconds = (local.hour * 3600 + local.minute * 60 + local.second +
                         local.microsecond / 1e6)
        stored = local_seconds - offset
        year = "%04d" % local.year if local.year <= 99 else str(local.year)
        text = "%d-%s-%s/%d:%02d:%s" % (local.day, MONTHS[local.month - 1], year, local.hour,
                                        local.minute,
                                        seconds_text(local.second + local.microsecond / 1e6))
        if quarters:
            q = abs(quarters)
            text += "%s%02d:%02d" % ("-" if quarters < 0 else "+", q // 4, q % 4 * 15)
        print(local.year, local.month, local.day, 1 if quarters < 0 else 0, abs(quarters) // 4,
              abs(quarters) % 4, repr(stored) + "|" + text)


def times_mode(rng):
    for _ in range(800):
        millis = rng.choice([rng.randint(-10**9, 10**9), rng.randint(-10**5, 10**5),
                             rng.randint(0, 3600 * 1000) // 1000 * 1000])
        td = dt.timedelta(milliseconds=abs(millis))
        hours = td.days * 24 + td.seconds // 3600
        minutes = td.seconds % 3600 // 60
        seconds = td.seconds % 60 + td.microseconds / 1e6
        text = "%s%d:%02d:%s" % ("-" if millis < 0 else "", hours, minutes, seconds_text(seconds))
        print(repr(millis / 1000) + "|" + text)


ALPHABET58 = "123456789ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz"


def base58(data):
    n = int.from_bytes(data, "big")
    text = ""
    while n:
        n, r = divmod(n, 58)
        text = ALPHABET58[r] + text
    zeros = len(data) - len(data.lstrip(b"\0"))
    return "1" * zeros + text


def codecs_mode(rng):
    samples = [b"", b"\0", b"\0\0\1", b"A", b"\xff" * 3, bytes(range(256))]
    for _ in range(300):
        n = rng.randint(0, 40)
        samples.append(bytes(rng.choice([0, rng.randint(0, 255)]) for _ in range(n)))
    for data in samples:
        fields = [data.hex().upper(), "".join(format(b, "08b") for b in data),
                  base64.b16encode(data).decode(), base58(data), base64.b64encode(data).decode()]
        print(" ".join(f or "-" for f in fields))


def main():
    rng = random.Random(20240611)
    {"days": days_mode, "dates": dates_mode, "times": times_mode, "codecs": codecs_mode}[
        sys.argv[1]](rng)


if __name__ == "__main__":
    main()
