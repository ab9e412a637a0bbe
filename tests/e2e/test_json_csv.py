"""The JSON and CSV codecs against Python's json and csv modules and the public suites in
tests/data: the JSON parsing suite (y_ files load, n_ files are refused, i_ files end either way
without a crash), the CSV spectrum, and round trips of generated documents both ways."""
import csv
import io
import json
import os
import random
import re
import subprocess
import tempfile

from zeltest import ZEL, check, finish

HERE = os.path.dirname(os.path.abspath(__file__))
DATA = os.path.join(HERE, "..", "data")
tmp = tempfile.mkdtemp(prefix="zel-json-")


def zel(body, timeout=300):
    """Runs a script; answers its standard output as text."""
    path = os.path.join(tmp, "script.zel")
    with open(path, "w", encoding="utf-8") as f:
        f.write("Zel []\n" + body)
    r = subprocess.run([ZEL, path], capture_output=True, timeout=timeout,
                       env=dict(os.environ, HOME=tmp))
    if r.returncode != 0:
        print(r.stdout.decode(errors="replace")[-2000:], r.stderr.decode(errors="replace"))
    check(r.returncode == 0, "script ran: " + body[:60])
    return r.stdout.decode("utf-8")


def file_literal(path):
    return "%" + os.path.abspath(path)


def write(name, data):
    path = os.path.join(tmp, name)
    mode = "wb" if isinstance(data, bytes) else "w"
    with open(path, mode, **({} if isinstance(data, bytes) else {"encoding": "utf-8",
                                                                   "newline": ""})) as f:
        f.write(data)
    return path


def hex_lower(json_text):
    """The encoders differ only in the letter case of \\u escapes."""
    return re.sub(r"\\u[0-9A-Fa-f]{4}", lambda m: m.group(0).lower(), json_text)


def read(name):
    with open(os.path.join(tmp, name), encoding="utf-8", newline="") as f:
        return f.read()


# ---- the JSON parsing suite ---------------------------------------------------------------
suite = os.path.join(DATA, "json-test-suite", "test_parsing")
names = sorted(os.listdir(suite))
out = zel("foreach f [\n" + "\n".join(file_literal(os.path.join(suite, n)) for n in names) +
          """\n] [
    r: try [load-json to string! read/binary f]
    print either error? :r [either r/type = 'user ["refused"] [form r/id]] ["loaded"]
]
""")
results = dict(zip(names, out.split("\n")))
check(len(out.split("\n")) - 1 == len(names), "every suite file gave an outcome")
for name in names:
    got = results.get(name)
    if name.startswith("y_"):
        check(got == "loaded", f"{name} loads (got {got})")
    elif name.startswith("n_"):
        # Bytes that are not UTF-8 are refused by the conversion to text before the decoder
        # sees them; nesting beyond the parser's depth is refused by its own error.
        allowed = {"refused", "invalid-utf8", "parse-stack"}
        check(got in allowed, f"{name} is refused (got {got})")
    else:
        check(got in {"loaded", "refused", "invalid-utf8", "invalid-data"},
              f"{name} ends cleanly (got {got})")


# ---- round trips through Python's json ------------------------------------------------------
rng = random.Random(24)
ALPHABET = ["a", "Z", " ", "\"", "\\", "/", "\n", "\t", "\r", "\b", "\f", "\x01", "\x1f", "\x7f",
            "é", "€", "\u00a0", "😀", "𝄞", "'", ":", "-", "1"]


def text(n):
    return "".join(rng.choice(ALPHABET) for _ in range(rng.randint(0, n)))


def key():
    # Names that read as words, names that do not, and names that differ only in case.
    return rng.choice(["name", "Name", "NAME", "a-b", "x1", "my key", "2x", "é", text(6),
                       "a'b", "+", "k" + str(rng.randint(0, 9))])


def scalar(floats):
    kind = rng.randint(0, 5 if floats else 4)
    if kind == 0:
        return rng.randint(-2**31, 2**31 - 1)
    if kind == 1:
        return text(8)
    if kind == 2:
        return rng.choice([True, False])
    if kind == 3:
        return None
    if kind == 4:
        return rng.randint(-1000, 1000)
    return rng.choice([rng.random(), -rng.random() * 1e10, rng.uniform(-1, 1) * 1e-200,
                       rng.uniform(-1, 1) * 1e200, 0.5, 1e-17])


def document(depth, floats):
    if depth == 0 or rng.random() < 0.3:
        return scalar(floats)
    if rng.random() < 0.5:
        return [document(depth - 1, floats) for _ in range(rng.randint(0, 4))]
    d = {}
    for _ in range(rng.randint(0, 4)):
        d[key()] = document(depth - 1, floats)
    return d


docs = [document(5, floats=i % 2 == 0) for i in range(60)]
script = []
for i, doc in enumerate(docs):
    write(f"doc{i}.json", json.dumps(doc, ensure_ascii=rng.random() < 0.5,
                                     indent=rng.choice([None, 1, "\t"])))
    src = file_literal(os.path.join(tmp, f"doc{i}.json"))
    script.append(f"""d: load {src}
write %{tmp}/out{i}.json to-json :d
write %{tmp}/ascii{i}.json to-json/ascii :d
write %{tmp}/pretty{i}.json to-json/pretty :d "  "
""")
zel("".join(script))
for i, doc in enumerate(docs):
    compact, ascii_, pretty = read(f"out{i}.json"), read(f"ascii{i}.json"), read(f"pretty{i}.json")
    for label, got in (("compact", compact), ("ascii", ascii_), ("pretty", pretty)):
        try:
            back = json.loads(got)
        except ValueError as e:
            back = e
        check(back == doc, f"doc{i} {label} reads back equal: {got[:120]!r}")
    check(all(ord(c) < 128 for c in ascii_), f"doc{i} /ascii writes ASCII only")
    if i % 2:  # no floats: their texts differ between the two encoders
        check(hex_lower(compact) == json.dumps(doc, separators=(",", ":"), ensure_ascii=False),
              f"doc{i} compact text equals Python's: {compact[:120]!r}")
        # DEL is printable ASCII to /ascii, where Python escapes it.
        check(hex_lower(ascii_) ==
              json.dumps(doc, separators=(",", ":")).replace("\\u007f", "\x7f"),
              f"doc{i} ASCII text equals Python's: {ascii_[:120]!r}")
        check(hex_lower(pretty) == json.dumps(doc, indent=2, ensure_ascii=False),
              f"doc{i} pretty text equals Python's: {pretty[:120]!r}")


# ---- the CSV spectrum -----------------------------------------------------------------------
spectrum = os.path.join(DATA, "csv-spectrum")
# location_coordinates.json does not match its CSV (another phone number, and an object where
# every other file has an array): that fixture is left out.
cases = sorted(n[:-4] for n in os.listdir(os.path.join(spectrum, "csvs"))
               if n != "location_coordinates.csv")
out = zel("".join(f"""print to-json load-csv/header/as-records to string! read/binary {
    file_literal(os.path.join(spectrum, "csvs", c + ".csv"))}\n""" for c in cases))
for case, line in zip(cases, out.split("\n")):
    with open(os.path.join(spectrum, "json", case + ".json"), encoding="utf-8") as f:
        want = json.load(f)
    check(json.loads(line) == want, f"csv-spectrum {case}: {line[:150]}")


# ---- CSV round trips through Python's csv ---------------------------------------------------
CSV_ALPHABET = ["a", "b", " ", ",", "\"", "\n", "\r", "\r\n", ";", "é", "😀", "'"]


def cell():
    return "".join(rng.choice(CSV_ALPHABET) for _ in range(rng.randint(0, 6)))


tables = []
for _ in range(40):
    width = rng.randint(2, 5)
    tables.append([[cell() for _ in range(width)] for _ in range(rng.randint(1, 6))])
script = []
for i, rows in enumerate(tables):
    buffer = io.StringIO()
    # Python's writer quotes a line break only when it is part of its line terminator: with LF
    # lines it quotes every field, so that a lone CR never stands outside quotes.
    if rng.random() < 0.5:
        csv.writer(buffer, lineterminator="\r\n").writerows(rows)
    else:
        csv.writer(buffer, lineterminator="\n", quoting=csv.QUOTE_ALL).writerows(rows)
    write(f"py{i}.csv", buffer.getvalue())
    write(f"rows{i}.json", json.dumps(rows))
    script.append(f"""write %{tmp}/zel{i}.csv to-csv load-json to string! read/binary %{tmp}/rows{i}.json
write %{tmp}/back{i}.json to-json load-csv to string! read/binary %{tmp}/py{i}.csv
""")
zel("".join(script))
for i, rows in enumerate(tables):
    written = read(f"zel{i}.csv")
    check(list(csv.reader(io.StringIO(written, newline=""))) == rows,
          f"table{i}: Python reads to-csv's text back: {written[:100]!r}")
    check(json.loads(read(f"back{i}.json")) == rows,
          f"table{i}: load-csv reads Python's text: {read(f'py{i}.csv')[:100]!r}")

finish()
