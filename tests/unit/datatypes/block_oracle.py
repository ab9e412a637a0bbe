"""Reference results for the block sort and set-operation tests.

Reads cases from the file named by the first argument, one case per two or three lines:
  sort SIZE OFFSET ALL REVERSE / values     -> the records sorted stably (Python's sorted)
  sets OP SIZE / values of a / values of b  -> the set operation on records of SIZE values
and prints one line of values per case.
"""
import sys


def records(values, size):
    return [values[i:i + size] for i in range(0, len(values), size)]


def sort_case(size, offset, all_, reverse, values):
    key = (lambda r: tuple(r)) if all_ else (lambda r: r[offset])
    return [v for r in sorted(records(values, size), key=key, reverse=reverse) for v in r]


def set_case(op, size, a, b):
    ra, rb = records(a, size), records(b, size)
    firsts_a = {r[0] for r in ra}
    firsts_b = {r[0] for r in rb}
    seen, out = set(), []

    def add(r):
        if r[0] not in seen:
            seen.add(r[0])
            out.extend(r)

    if op in ("unique", "union"):
        for r in ra:
            add(r)
    if op == "union":
        for r in rb:
            add(r)
    if op == "intersect":
        for r in ra:
            if r[0] in firsts_b:
                add(r)
    if op in ("exclude", "difference"):
        for r in ra:
            if r[0] not in firsts_b:
                add(r)
    if op == "difference":
        for r in rb:
            if r[0] not in firsts_a:
                add(r)
    return out


def ints(line):
    return [int(x) for x in line.split()]


def main():
    with open(sys.argv[1]) as f:
        lines = f.read().split("\n")
    i = 0
    while i < len(lines) and lines[i]:
        head = lines[i].split()
        if head[0] == "sort":
            size, offset, all_, reverse = map(int, head[1:])
            result = sort_case(size, offset, bool(all_), bool(reverse), ints(lines[i + 1]))
            i += 2
        else:
            result = set_case(head[1], int(head[2]), ints(lines[i + 1]), ints(lines[i + 2]))
            i += 3
        print(" ".join(map(str, result)))


main()
