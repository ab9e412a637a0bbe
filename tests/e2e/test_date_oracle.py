"""date! calendar arithmetic against Python's datetime on random dates of years 1-9999: days
added and between dates, weekday, day of year, ISO and Sunday-based weeks, Unix seconds and
moving a date into another zone; then years 0 and below, which Python lacks, by continuity.
One zel process runs the whole table."""
import calendar
import datetime as dt
import random

from zeltest import run, check, finish

MONTHS = "Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec".split()


def text(d, t=None, zone=None):
    y = d.year
    s = f"{d.day}-{MONTHS[d.month - 1]}-{y:04d}" if y <= 99 else f"{d.day}-{MONTHS[d.month - 1]}-{y}"
    if t is not None:
        s += f"/{t.hour}:{t.minute:02d}:{t.second:02d}"
        if zone:
            sign = "-" if zone < 0 else "+"
            m = abs(zone)
            s += f"{sign}{m // 60:02d}:{m % 60:02d}"
    return s


def sunday_week(d):
    w = int(d.strftime("%U"))
    return w if dt.date(d.year, 1, 1).weekday() == 6 else w + 1


rng = random.Random(1906)
lines, expected = [], []


def case(expr, want):
    lines.append(f"print mold/flat try [{expr}]")
    expected.append((expr, want))


def mk(d):
    return f"(make date! [{d.day} {d.month} {d.year}])"


for _ in range(300):
    a = dt.date.fromordinal(rng.randint(1, dt.date(9999, 12, 31).toordinal()))
    n = rng.randint(-a.toordinal() + 1, dt.date(9999, 12, 31).toordinal() - a.toordinal())
    b = a + dt.timedelta(days=n)
    case(f"{mk(a)} + {n}", text(b))
    case(f"{mk(b)} - {mk(a)}", str(n))
    case(f"d: {mk(a)} reduce [d/weekday d/yearday d/isoweek d/week]",
         f"[{a.isoweekday()} {a.timetuple().tm_yday} {a.isocalendar()[1]} {sunday_week(a)}]")

for _ in range(150):
    # Zones of whole quarter hours within 15:45 either way; Unix seconds where they fit.
    zone = rng.choice([-1, 1]) * rng.randint(0, 63) * 15
    year = rng.randint(1902, 2037)
    local = dt.datetime(year, 1, 1) + dt.timedelta(seconds=rng.randint(0, 364 * 86400))
    tz = dt.timezone(dt.timedelta(minutes=zone))
    aware = local.replace(tzinfo=tz)
    zone_part = f"{'-' if zone < 0 else ''}{abs(zone) // 60}:{abs(zone) % 60:02d}" if zone else ""
    make = (f"(make date! [{local.day} {local.month} {local.year} {local.hour} {local.minute} "
            f"{local.second} {zone_part}])")
    unix = calendar.timegm(aware.astimezone(dt.timezone.utc).timetuple())
    if -2**31 <= unix < 2**31:
        case(f"to integer! {make}", str(unix))
    other = rng.choice([-1, 1]) * rng.randint(0, 15)
    moved = aware.astimezone(dt.timezone(dt.timedelta(hours=other)))
    case(f"d: {make} d/timezone: {other} d",
         text(moved.date(), moved.time(), other * 60))
    step = rng.randint(-10**6, 10**6)
    later = aware + dt.timedelta(seconds=step)
    case(f"{make} + to time! {step}", text(later.date(), later.time(), zone))

# Years 0 and below: the days run on without a gap or a fold.
for expr, want in [
    ("(make date! [1 3 0]) - (make date! [29 2 0])", "1"),
    ("(make date! [1 1 1]) - (make date! [1 1 0])", "366"),
    ("(make date! [1 1 0]) - (make date! [1 1 -1])", "365"),
    ("(make date! [1 1 -3]) - (make date! [1 1 -4])", "366"),
    ("(make date! [1 1 -4]) - (make date! [1 1 -5])", "365"),
    ("(make date! [1 1 1]) - 1", "31-Dec-0000"),
    ("(make date! [1 3 0]) - 1", "29-Feb-0000"),
    ("(make date! [1 3 -1]) - 1", "28/Feb/-0001"),
    ("d: (make date! [1 1 1]) - 1 d/weekday", "7"),
    ("d: make date! [1 1 -400] d/weekday", "6"),
    ("(make date! [1 1 -16384]) + 11967901", "1-Jan-16383"),
]:
    case(expr, want)

r = run(stdin="\n".join(lines) + "\n")
out = [l for l in r.stdout.decode().splitlines() if l and not l.startswith("--==")
       and not l.startswith("Type HELP")]
check(len(out) == len(expected), f"{len(out)} lines for {len(expected)} cases")
for (expr, want), got in zip(expected, out):
    check(got == want, f"{expr}: {got} (expected {want})")
finish()
