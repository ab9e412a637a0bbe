"""parse against Python's re.fullmatch on random rules and inputs, for the regular subset:
any, some, opt, counts, to, thru, alternatives, charsets, skip, end, and copy against groups.

parse commits to what a rule matched (no backtracking into a finished repetition or
alternative), so each rule maps to an atomic group or a possessive quantifier; to and thru map
to a scan for the first position where their literal matches."""
import random
import re

from zeltest import check, finish, run

ALPHABET = "abc"
rng = random.Random(20240611)


def lit(case):
    s = "".join(rng.choice(ALPHABET if case else "abAB") for _ in range(rng.randint(1, 2)))
    return f'"{s}"', re.escape(s)


def charset():
    chars = "".join(sorted(set(rng.sample(ALPHABET, rng.randint(1, 2)))))
    return f"cs-{chars}", f"[{chars}]"


def atom(depth, case, groups):
    """Answers (parse rule text, regex)."""
    kinds = ["lit", "lit", "skip", "any", "some", "opt", "count", "to", "thru", "alt"]
    # A copy inside a repetition or an alternative may run in a pass that then fails, where a
    # regex group is undone: copies are compared at the top level only.
    if depth == 0:
        kinds += ["copy", "copy"]
    if case:
        kinds += ["set", "set"]
    if depth > 2:
        kinds = ["lit", "skip"] + (["set"] if case else [])
    k = rng.choice(kinds)
    if k == "lit":
        return lit(case)
    if k == "set":
        return charset()
    if k == "skip":
        return "skip", "."
    if k in ("any", "some", "opt"):
        p, r = atom(depth + 1, case, groups)
        q = {"any": "*+", "some": "++", "opt": "?+"}[k]
        return f"{k} {p}", f"(?:{r}){q}"
    if k == "count":
        n = rng.randint(0, 2)
        m = n + rng.randint(0, 2)
        p, r = atom(depth + 1, case, groups)
        return f"{n} {m} {p}", f"(?:{r}){{{n},{m}}}+"
    if k in ("to", "thru"):
        p, r = lit(case) if rng.random() < 0.6 or not case else charset()
        scan = f"(?:(?!{r}).)*+"
        if k == "to":
            return f"{k} {p}", f"(?>{scan}(?={r}))"
        return f"{k} {p}", f"(?>{scan}{r})"
    if k == "alt":
        a = seq(depth + 1, case, groups)
        b = seq(depth + 1, case, groups)
        return f"[{a[0]} | {b[0]}]", f"(?>{a[1]}|{b[1]})"
    name = f"g{len(groups)}"
    groups.append(name)
    p, r = atom(depth + 1, case, groups)
    return f"copy {name} {p}", f"(?P<{name}>(?>{r}))"


def seq(depth, case, groups):
    parts = [atom(depth, case, groups) for _ in range(rng.randint(1, 3))]
    if rng.random() < 0.1:
        parts.append(("end", r"\Z"))
    return " ".join(p for p, _ in parts), "".join(f"(?>{r})" for _, r in parts)


cases = []
for i in range(400):
    case = rng.random() < 0.6
    groups = []
    rule, regex = seq(0, case, groups)
    inputs = ["".join(rng.choice(ALPHABET if case else "abAB") for _ in range(rng.randint(0, 7)))
              for _ in range(4)]
    cases.append((case, groups, rule, regex, inputs))

# One script runs every case; each prints the result and the copied parts on one line.
script = ["Zel []"]
for chars in ["a", "b", "c", "ab", "ac", "bc"]:
    script.append(f'cs-{chars}: charset "{chars}"')
for case, groups, rule, regex, inputs in cases:
    for s in inputs:
        clear = " ".join(f"{g}: none" for g in groups)
        show = " ".join(f"mold {g}" for g in groups)
        call = "parse/case" if case else "parse"
        script.append(f'{clear} print [{call} "{s}" [{rule}] {show}]')
with open("/tmp/zel_parse_regex.zel", "w") as f:
    f.write("\n".join(script) + "\n")
r = run(["/tmp/zel_parse_regex.zel"], timeout=120)
lines = r.stdout.decode().splitlines()
check(r.returncode == 0, f"script ran ({r.returncode}): {r.stdout.decode()[-300:]}")

k = 0
for case, groups, rule, regex, inputs in cases:
    for s in inputs:
        got = lines[k].split(" ") if k < len(lines) else ["<missing>"]
        k += 1
        m = re.fullmatch(regex, s, re.DOTALL | (0 if case else re.IGNORECASE))
        want = "true" if m else "false"
        if got[0] != want:
            check(False, f"parse {s!r} [{rule}]: {got[0]}, re {regex!r}: {want}")
            continue
        if m:
            # A copy that never ran keeps none; one that ran holds its group's text.
            for g, value in zip(groups, got[1:]):
                text = m.group(g)
                expected = "none" if text is None else '"' + text + '"'
                if text is not None and value != expected:
                    check(False, f"parse {s!r} [{rule}]: {g} = {value}, group {expected}")
finish()
