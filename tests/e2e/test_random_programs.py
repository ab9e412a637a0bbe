"""Random programs: short programs made of the running system's own words and of every literal
kind the lexer knows, run through zel to find internal crashes.

Any report of an internal fault ("*** Runtime Error"), death by a signal, a sanitizer report or a
hang fails the test. Ordinary language errors are expected and ignored: each program runs inside
`try`, and its value is then molded and formed (molding is where many faults show), each cut to
100000 characters so that a huge value costs no more than its making.

Several programs share one zel process, each between two markers, so that the run stays short;
a failure is narrowed to the program that was running, which is then run again on its own, and
the report shows the seed and the program text.

Environment:
  ZEL_RANDOM_PROGRAMS=N   how many programs (default 500; 80 under ZEL_GC_STRESS=1)
  ZEL_RANDOM_SEED=S       the seed (default a fixed one, so that CI runs are repeatable;
                          "random" picks one and prints it)

Usage: test_random_programs.py ZEL
"""
import os
import random
import re
import subprocess
import sys
import tempfile

from zeltest import ZEL, check, failures, finish

STRESS = os.environ.get("ZEL_GC_STRESS") == "1"
COUNT = int(os.environ.get("ZEL_RANDOM_PROGRAMS", "80" if STRESS else "500"))
SEED_TEXT = os.environ.get("ZEL_RANDOM_SEED", "20240611")
SEED = random.randrange(1 << 32) if SEED_TEXT == "random" else int(SEED_TEXT)
BATCH = 25 if STRESS else 60
BATCH_TIMEOUT = 240 if STRESS else 60
ALONE_TIMEOUT = 120 if STRESS else 20

# Words a program must not call: they end the process, wait for input or for time, touch files,
# directories, the clipboard or other programs, or loop without end by design. Words beginning
# with "_" are the console's own internals.
DENIED = {
    "quit", "quit-return", "q", "halt", "wait", "ask", "input", "input-stdin", "read-stdin",
    "call", "browse", "write", "save", "delete", "rename", "create", "open", "close", "update",
    "make-dir", "create-dir", "change-dir", "set-current-dir", "cd", "flip-exe-flag",
    "write-clipboard", "read-clipboard", "routine", "forever", "while", "until", "loop",
    "repeat", "do-file", "echo", "view", "alert", "request-file",
    "request-dir",
}

START, END = "\x01RP-S", "\x01RP-E"
MARK = re.compile(r"^\x01RP-([SE]) (\d+)$", re.M)
FAULT = re.compile(r"\*\*\* Runtime Error|AddressSanitizer|runtime error:|LeakSanitizer")

# Names that the generated code assigns. The harness's own words start with "rp-", which no
# program writes. The system's words are not assigned: a library function that loops on `all`
# made a pair loops for good, which would read as a hang of the runtime.
LOCALS = ["v1", "v2", "v3", "v4"]


def system_words():
    """The words with values in the running system: (functions with their refinements, others)."""
    script = r'''Zel []
foreach w words-of system/words [
    if value? w [
        v: get w
        either any-function? :v [
            refs: copy []
            foreach x spec-of :v [if all [refinement? x x <> /local] [append refs to word! x]]
            print ["F" w refs]
        ][print ["V" w]]
    ]
]
'''
    with tempfile.NamedTemporaryFile("w", suffix=".zel", delete=False) as f:
        f.write(script)
    try:
        r = subprocess.run([ZEL, f.name], capture_output=True, timeout=300)
    finally:
        os.unlink(f.name)
    functions, values = {}, []
    for line in r.stdout.decode("utf-8", "replace").splitlines():
        parts = line.split()
        if len(parts) < 2 or parts[1].startswith("_") or parts[1] in DENIED:
            continue
        if parts[0] == "F":
            functions[parts[1]] = parts[2:]
        elif parts[0] == "V":
            values.append(parts[1])
    return functions, sorted(values)


INTEGERS = ["0", "1", "-1", "2", "3", "7", "10", "42", "100", "255", "256", "-128", "65536",
            "1000000", "2147483647", "-2147483648"]
DECIMALS = ["0.0", "-0.0", "0.5", "1.5", "-2.25", "3.14159", "1e10", "1e-10", "1e300",
            "1.7976931348623157e308", "2.2250738585072014e-308"]
STRING_PIECES = ["a", "b", "Z", " ", "0", "9", "é", "日本", "😀", "^/", "^-", '^"', "^^", "{",
                 "}", "[", "]", "%", "/", ":", "x y", "^(00)", "^(FF)"]
CHARS = ['#"a"', '#"Z"', '#"0"', '#" "', '#"^/"', '#"^-"', '#"^(00)"', '#"é"', '#"^(1F600)"',
         '#"^""', '#"^^"']
ISSUES = ["#abc", "#1", "#a-b", "#x.y", "#FF"]
PAIRS = ["1x2", "0x0", "-3x4", "100x-100", "2147483647x-2147483648"]
TUPLES = ["1.2.3", "0.0.0", "255.255.255", "1.2.3.4", "255.0.255.0.1.2.3.4", "1.2.3.4.5.6.7.8"]
MONEY = ["$1", "$0", "$1.50", "-$3.25", "USD$12.5", "$99999999999", "EUR$0.01"]
DATES = ["1-Jan-2000", "29-Feb-2024", "31-Dec-1999/23:59:59", "1-Jan-2000/10:00+2:00",
         "2024-05-06", "1-Jan-1970", "15-Mar-2100/0:00"]
TIMES = ["10:00", "0:00", "1:02:03.5", "-1:30", "100:00", "23:59:59"]
BINARIES = ["#{}", "#{00}", "#{DEADBEEF}", "#{FF00FF}", "2#{01010101}", "64#{AQID}"]
FILES = ["%f.txt", "%.", "%/tmp/zel-random-no-such-file", '%"a b.txt"', "%a/b/", "%ñ.zel"]
URLS = ["http://example.com", "ftp://a.b/c", "https://x.y/p?q=1", "mailto:x@y.z"]
TAGS = ["<a>", '<b c="d">', "</x>", "<br/>"]
EMAILS = ["a@b.c", "user@example.com"]
REFINEMENTS = ["/part", "/only", "/deep", "/x", "/1"]
PATHS = ["system/options/home", "system/catalog/errors", "system/words/print", "v1/1", "v1/x",
         "v2/:v1", "v1/(1 + 1)", "v3/2/1", "v1/v2"]
# The system object and its parts: the largest values there are, holding every kind of value.
SYSTEM = ["system", "system/words", "system/options", "system/catalog", "system/state",
          "system/locale", "system/standard"]
SET_PATHS = ["v1/1:", "v1/x:", "v2/:v1:", "v3/2/1:", "v1/v2:"]


class Generator:
    def __init__(self, rng, functions, values):
        self.rng = rng
        self.functions = functions
        self.function_names = sorted(functions)
        self.values = values

    def pick(self, items):
        return self.rng.choice(items)

    def string(self):
        text = "".join(self.pick(STRING_PIECES) for _ in range(self.rng.randint(0, 5)))
        if self.rng.random() < 0.2 and "{" not in text and "}" not in text:
            return "{" + text + "}"
        return '"' + text + '"'

    def word(self):
        r = self.rng.random()
        if r < 0.3:
            return self.pick(LOCALS)
        if r < 0.45 and self.values:
            return self.pick(self.values)
        return self.pick(self.function_names)

    def call(self, depth):
        name = self.pick(self.function_names)
        refs = self.functions[name]
        if refs and self.rng.random() < 0.4:
            name += "".join("/" + self.pick(refs) for _ in range(self.rng.randint(1, 2)))
        args = [self.value(depth) for _ in range(self.rng.randint(0, 3))]
        return " ".join([name] + args)

    def code(self, depth, low=0, high=4):
        return " ".join(self.expression(depth) for _ in range(self.rng.randint(low, high)))

    def obj(self, depth):
        maker = self.pick(["make object!", "context", "object"])
        fields = " ".join(f"{self.pick(LOCALS)}: {self.value(depth)}"
                          for _ in range(self.rng.randint(0, 3)))
        return f"{maker} [{fields}]"

    def template(self, depth):
        d = depth + 1
        forms = [
            lambda: f"foreach {self.pick(LOCALS)} {self.value(d)} [{self.code(d)}]",
            lambda: f"{self.pick(LOCALS)}: func [a b /r c] [{self.code(d)}] "
                    f"{self.pick(LOCALS)} {self.value(d)} {self.value(d)}",
            lambda: f"reduce [{self.code(d)}]",
            lambda: f"compose [{self.code(d)}]",
            lambda: f"mold/all {self.value(d)}",
            lambda: f"probe {self.value(d)}",
            lambda: f"form {self.value(d)}",
            lambda: f"{self.pick(['append', 'insert', 'change'])} {self.value(d)} {self.value(d)}",
            lambda: f"load {self.string()}",
            lambda: f"copy/deep {self.value(d)}",
        ]
        return self.pick(forms)()

    def expression(self, depth):
        r = self.rng.random()
        if depth < 3 and r < 0.15:
            return self.template(depth)
        if r < 0.5:
            return self.call(depth + 1)
        if r < 0.6:
            return f"{self.pick(LOCALS)}: {self.expression(depth + 1)}"
        return self.value(depth + 1)

    def value(self, depth):
        kinds = [
            (8, lambda: self.pick(INTEGERS) if self.rng.random() < 0.5
                else str(self.rng.randint(-20, 100))),
            (4, lambda: self.pick(DECIMALS)),
            (5, self.string),
            (6, self.word),
            (2, lambda: ":" + self.word()),
            (2, lambda: "'" + self.word()),
            (2, lambda: self.pick(PATHS)),
            (2, lambda: self.pick(SYSTEM)),
            (1, lambda: self.pick(SET_PATHS)),
            (1, lambda: self.pick(ISSUES)),
            (1, lambda: self.pick(PAIRS)),
            (1, lambda: self.pick(TUPLES)),
            (1, lambda: self.pick(MONEY)),
            (1, lambda: self.pick(DATES)),
            (1, lambda: self.pick(TIMES)),
            (1, lambda: self.pick(CHARS)),
            (1, lambda: self.pick(BINARIES)),
            (1, lambda: self.pick(FILES)),
            (1, lambda: self.pick(URLS)),
            (1, lambda: self.pick(TAGS)),
            (1, lambda: self.pick(EMAILS)),
            (1, lambda: self.pick(REFINEMENTS)),
            (1, lambda: self.pick(["none", "true", "false", "10%", "-5.5%"])),
        ]
        if depth < 3:
            kinds += [
                (4, lambda: "[" + self.code(depth + 1) + "]"),
                (2, lambda: "(" + self.code(depth + 1, 1, 3) + ")"),
                (2, lambda: self.obj(depth + 1)),
            ]
        total = sum(w for w, _ in kinds)
        n = self.rng.uniform(0, total)
        for w, make in kinds:
            n -= w
            if n <= 0:
                return make()
        return kinds[-1][1]()

    def program(self):
        return self.code(0, 1, 6)


def script_of(programs, first):
    """A script running programs[first:], each inside try, its value molded and formed, between
    markers."""
    lines = ["Zel []", "rp-print: :print rp-try: :try rp-mold: :mold rp-form: :form rp-set: :set"]
    for i in range(first, len(programs)):
        lines.append(f'rp-print "^/^(01)RP-S {i}"')
        lines.append("rp-try [rp-set/any 'rp-v rp-try [")
        lines.append(programs[i])
        lines.append("] rp-mold/all/part :rp-v 100000 rp-form/part :rp-v 100000]")
        lines.append(f'rp-print "^/^(01)RP-E {i}"')
    return "\n".join(lines) + "\n"


def run_script(text, timeout):
    """Runs a script; answers (output, fault text or None, timed out?)."""
    with tempfile.TemporaryDirectory(prefix="zel-random-") as tmp:
        path = os.path.join(tmp, "programs.zel")
        with open(path, "w", encoding="utf-8") as f:
            f.write(text)
        env = dict(os.environ, HOME=tmp, XDG_CONFIG_HOME=os.path.join(tmp, ".config"))
        p = subprocess.Popen([ZEL, path], stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE, cwd=tmp, env=env)
        timed_out = False
        try:
            out, err = p.communicate(timeout=timeout)
        except subprocess.TimeoutExpired:
            p.kill()
            out, err = p.communicate()
            timed_out = True
    out = out.decode("utf-8", "replace")
    err = err.decode("utf-8", "replace")
    fault = None
    m = FAULT.search(out + err)
    if m:
        at = (out + err)[m.start():]
        fault = at[:400]
    elif p.returncode < 0 and not timed_out:
        fault = f"killed by signal {-p.returncode}"
    return out, fault, timed_out


def last_started(out):
    """The last program whose start marker was printed (None when none was)."""
    last = None
    for m in MARK.finditer(out):
        if m.group(1) == "S":
            last = int(m.group(2))
    return last


def report(kind, programs, index, first, detail, alone):
    print(f"FAIL: {kind} in program {index} (seed {SEED}):")
    print("    " + programs[index])
    print(f"  {detail.strip()}")
    if not alone:
        print(f"  it does not happen when the program runs alone: it followed programs "
              f"{first}..{index - 1} in the same process:")
        for i in range(first, index):
            print("    " + programs[i])


def main():
    functions, values = system_words()
    check(len(functions) > 100, f"the system's words were read ({len(functions)} functions)")
    gen = Generator(random.Random(SEED), functions, values)
    programs = [gen.program() for _ in range(COUNT)]
    print(f"seed {SEED}: {COUNT} programs")
    first = 0
    ended_count = 0
    while first < COUNT:
        end = min(first + BATCH, COUNT)
        out, fault, timed_out = run_script(script_of(programs[:end], first), BATCH_TIMEOUT)
        last = last_started(out)
        ended_count += len(re.findall(r"^\x01RP-E ", out, re.M))
        if last is None:
            check(fault is None and not timed_out,
                  f"programs from {first} on failed before the first began: "
                  f"{(fault or out[-400:])!r}")
            first = end
            continue
        if fault is None and not timed_out:
            # A program that stopped the script (an escaping `exit`, say) ends the batch early;
            # the rest run in a new process.
            first = last + 1
            continue
        # The program that was running; a fault after its end marker came when the process ended.
        index = last
        _, alone_fault, alone_timeout = run_script(script_of(programs[:index + 1], index),
                                                   ALONE_TIMEOUT)
        alone = (alone_fault is not None) if fault is not None else alone_timeout
        if fault is not None:
            report("internal fault", programs, index, first, alone_fault or fault, alone)
        else:
            report("hang", programs, index, first, "no end within the time limit", alone)
        failures.append(f"program {index} of seed {SEED}")
        first = index + 1
    print(f"{ended_count} of {COUNT} programs ran to their end")
    print(f"{COUNT - len(failures)} passed, {len(failures)} failed")
    finish()


if __name__ == "__main__":
    main()
