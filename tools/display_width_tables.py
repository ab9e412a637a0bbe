#!/usr/bin/env python3
"""Prints the display-width range tables of runtime/display_width.cpp from the Unicode
database of the running Python: the zero-width table (non-spacing and enclosing marks, format
characters; the soft hyphen stays visible) and the wide table (East Asian Width W and F, with
the blocks whose unassigned code points default to W). Usage: display_width_tables.py
[--check] (--check prints one "first-code-point columns" line per run of equal widths, the form
the unit test compares against)."""
import sys
import unicodedata

# Unassigned code points in these blocks default to East Asian Width W.
DEFAULT_WIDE = [(0x3400, 0x4DBF), (0x4E00, 0x9FFF), (0xF900, 0xFAFF),
                (0x20000, 0x2FFFD), (0x30000, 0x3FFFD)]


def zero_width(cp):
    return cp != 0xAD and unicodedata.category(chr(cp)) in ("Mn", "Me", "Cf")


def wide(cp):
    ch = chr(cp)
    if unicodedata.category(ch) == "Cn":
        return any(lo <= cp <= hi for lo, hi in DEFAULT_WIDE)
    return unicodedata.east_asian_width(ch) in ("W", "F")


def columns(cp):
    if cp == 0:
        return 0
    if cp < 0x20 or 0x7F <= cp <= 0x9F:
        return 1
    if zero_width(cp):
        return 0
    if wide(cp):
        return 2
    return 1


def ranges(pred):
    out, start = [], None
    for cp in range(0x110000):
        if pred(cp):
            if start is None:
                start = cp
        elif start is not None:
            out.append((start, cp - 1))
            start = None
    if start is not None:
        out.append((start, 0x10FFFF))
    return out


def print_table(name, rows):
    print(f"// {len(rows)} ranges")
    print(f"constexpr u32 {name}[] = {{")
    line = "   "
    for lo, hi in rows:
        item = f" 0x{lo:X}, 0x{hi:X},"
        if len(line) + len(item) > 100:
            print(line)
            line = "   "
        line += item
    print(line)
    print("};")


def main():
    if "--check" in sys.argv:
        print(unicodedata.unidata_version)
        last = None
        for cp in range(0x110000):
            c = columns(cp)
            if c != last:
                print(f"{cp} {c}")
                last = c
        return
    print(f"// Unicode {unicodedata.unidata_version}")
    print("// clang-format off")
    print_table("zero_width_ranges", ranges(zero_width))
    print_table("wide_ranges", ranges(wide))
    print("// clang-format on")


if __name__ == "__main__":
    main()
