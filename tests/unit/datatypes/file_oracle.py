"""Reference view of a folder for the file I/O tests, through Python's os and pathlib.

  setup DIR   makes the fixture tree in DIR (contents, links, odd names, set times)
  facts DIR   prints one line per fact about everything under DIR:
    entry HEX(relpath) file|dir SIZE Y M D h m s ms   (stat, following links; time in UTC)
    bytes HEX(relpath) HEX(content)                    (files below 16 MiB)
    text HEX(relpath) HEX(content read as text with universal newlines, UTF-8, BOM dropped)
    list HEX(relpath) HEX(name)[/] ...                (os.listdir; "/" marks folders)
  cwd         prints HEX(os.getcwd())
Paths are bytes throughout, so names that are not UTF-8 pass unchanged.
"""
import datetime
import os
import pathlib
import random
import sys


def hx(b):
    return b.hex() if b else "-"


def setup(root):
    root = pathlib.Path(root)
    files = {
        b"bin.dat": bytes(range(256)) * 3,
        b"crlf.txt": b"a\r\nb\rc\nd\r\n\r\ne",
        b"utf8.txt": "h\u00e9llo w\u00f6rld \u20ac\U0001d11e\r\n".encode() * 100,
        b"bom.txt": b"\xef\xbb\xbfbom\n",
        b"empty.txt": b"",
        b"lines.txt": b"one\r\ntwo\nthree\rstill three\n\nlast",
        b"big.dat": random.Random(7).randbytes(300000),
        b"with space.txt": b"spaced",
        b"raw-\xff\xfe.bin": b"raw",
        "\u00e9-\u540d\u524d.txt".encode(): b"named",
        b"sub/inner.txt": b"inner\n",
    }
    (root / "sub" / "deeper").mkdir(parents=True)
    for name, content in files.items():
        (root / os.fsdecode(name)).write_bytes(content)
    os.symlink("sub", root / "link-to-sub")
    os.symlink("bin.dat", root / "link-to-bin")
    # Times before 1970, with milliseconds, and past 2038.
    os.utime(root / "bin.dat", ns=(0, 1700000000_123456789))
    os.utime(root / "crlf.txt", ns=(0, -34560000_000000000 + 500_000_000))
    os.utime(root / "utf8.txt", ns=(0, 4102444800_999000000))


def when(ns):
    t = datetime.datetime(1970, 1, 1) + datetime.timedelta(seconds=ns // 10**9)
    return f"{t.year} {t.month} {t.day} {t.hour} {t.minute} {t.second} {ns % 10**9 // 10**6}"


def facts(root):
    root = os.fsencode(root)
    for folder, dirs, names in os.walk(root, followlinks=False):
        rel_folder = os.path.relpath(folder, root)
        rel_folder = b"" if rel_folder == b"." else rel_folder + b"/"
        listing = []
        for name in sorted(os.listdir(folder)):
            full = os.path.join(folder, name)
            is_dir = os.path.isdir(full)
            listing.append(hx(name + (b"/" if is_dir else b"")))
            try:
                st = os.stat(full)
            except FileNotFoundError:  # a link that leads nowhere
                continue
            rel = rel_folder + name
            kind = "dir" if is_dir else "file"
            print("entry", hx(rel), kind, st.st_size, when(st.st_mtime_ns))
            if not is_dir and st.st_size < 1 << 24:
                content = pathlib.Path(os.fsdecode(full)).read_bytes()
                print("bytes", hx(rel), hx(content))
                try:
                    with open(full, encoding="utf-8-sig", newline=None) as f:
                        print("text", hx(rel), hx(f.read().encode()))
                except UnicodeDecodeError:
                    pass
        print("list", hx(rel_folder), *listing)


def main():
    command = sys.argv[1]
    if command == "setup":
        setup(sys.argv[2])
    elif command == "facts":
        facts(sys.argv[2])
    elif command == "cwd":
        print(hx(os.getcwd().encode()))


main()
