"""compress and decompress against zlib and gzip: our streams in the three framings read back by
Python's zlib (wbits -15, 15, 31) and the gzip command; zlib's streams at levels 0-9, Python's
gzip and the gzip command's files (with a name) read by ours; damaged and truncated streams
refused with invalid-data, never a crash."""
import gzip
import os
import random
import shutil
import subprocess
import tempfile
import zlib

from zeltest import run, check, finish

tmp = tempfile.mkdtemp(prefix="zel-deflate-")
rng = random.Random(1951)


def text_data(n):
    words = [b"alpha", b"beta", b"gamma", b"delta", b"zel", b"block", b"value", b"\n", b"  "]
    out = bytearray()
    while len(out) < n:
        out += rng.choice(words) + b" " + str(rng.randrange(1000)).encode()
    return bytes(out[:n])


def far_repeats(n):
    # 3-byte repeats more than 4096 bytes apart, among noise.
    out = bytearray(rng.randbytes(n))
    for i in range(0, n - 3, 5000):
        out[i:i + 3] = b"xyz"
    return bytes(out)


WBITS = {"deflate": -15, "zlib": 15, "gzip": 31}
INPUTS = {
    "empty": b"",
    "one": b"A",
    "two": b"AB",
    "run600": b"q" * 600,
    "random65535": rng.randbytes(65535),
    "random65536": rng.randbytes(65536),
    "random200k": rng.randbytes(200_000),
    "text": text_data(300_000),
    "far": far_repeats(40_000),
    "symbols": bytes(range(256)) * 300,  # many blocks of 16,384 symbols
    "big": text_data(3_000_000) + rng.randbytes(100_000) + b"z" * 500_000,
}


def path(name):
    return os.path.join(tmp, name)


def zel_script(name, text):
    p = path(name + ".zel")
    with open(p, "w", encoding="utf-8") as f:
        f.write("Zel []\n" + text)
    r = run([p], timeout=300)
    out = r.stdout.decode("utf-8", "replace")
    check(r.returncode == 0, f"{name}: exit 0, got {r.returncode}: {out[-400:]!r}")
    return out.splitlines()


for name, data in INPUTS.items():
    with open(path(name), "wb") as f:
        f.write(data)

# ---- ours, read by zlib and gzip ----------------------------------------------------------------
lines = []
for name in INPUTS:
    lines.append(f"data: read/binary %{path(name)}")
    lines += [f"write/binary %{path(name)}.{m} compress data '{m}" for m in WBITS]
zel_script("ours", "\n".join(lines) + "\n")
for name, data in INPUTS.items():
    for m, wbits in WBITS.items():
        try:
            with open(path(f"{name}.{m}"), "rb") as f:
                packed = f.read()
        except OSError:
            check(False, f"{name}.{m}: not written")
            continue
        try:
            back = zlib.decompress(packed, wbits)
        except zlib.error as e:
            check(False, f"{name}.{m}: zlib refused ours: {e}")
            continue
        check(back == data, f"{name}.{m}: zlib read back other bytes")
        if m == "deflate" and name == "empty":
            check(packed == b"\x03\x00", f"empty raw stream is 03 00, got {packed.hex()}")
        if m == "zlib" and name in ("text", "big"):
            ref = len(zlib.compress(data, 6))
            check(len(packed) <= ref * 1.02 + 16,
                  f"{name}: ours {len(packed)} bytes, zlib level 6 {ref}: more than 2 % larger")
    if shutil.which("gzip"):
        r = subprocess.run(["gzip", "-dc", path(f"{name}.gzip")], capture_output=True)
        check(r.returncode == 0 and r.stdout == data, f"{name}.gzip: the gzip command refused it")

# ---- theirs, read by ours -----------------------------------------------------------------------
theirs = []
for name, data in INPUTS.items():
    if name == "big":
        levels = [1, 6, 9]
    else:
        levels = range(10)
    for level in levels:
        for m, wbits in WBITS.items():
            c = zlib.compressobj(level, zlib.DEFLATED, wbits)
            packed = c.compress(data) + c.flush()
            theirs.append((f"{name}.{m}{level}", m, packed, data))
    theirs.append((f"{name}.pygz", "gzip", gzip.compress(data, mtime=0), data))
    if shutil.which("gzip"):
        r = subprocess.run(["gzip", "-c", path(name)], capture_output=True)
        theirs.append((f"{name}.cmdgz", "gzip", r.stdout, data))  # with the file name
# Hand-made gzip headers with an extra field, a comment and a header CRC.
body = zlib.compressobj(6, zlib.DEFLATED, -15)
sample = INPUTS["text"][:5000]
raw = body.compress(sample) + body.flush()
head = bytes([0x1F, 0x8B, 8, 4 | 16 | 2, 0, 0, 0, 0, 0, 3]) + b"\x03\x00abc" + b"note\x00"
head += (zlib.crc32(head) & 0xFFFF).to_bytes(2, "little")
trailer = zlib.crc32(sample).to_bytes(4, "little") + len(sample).to_bytes(4, "little")
theirs.append(("handmade.gz", "gzip", head + raw + trailer, sample))

for name, m, packed, data in theirs:
    with open(path(name + ".in"), "wb") as f:
        f.write(packed)
lines = [f"write/binary %{path(name)}.out decompress read/binary %{path(name)}.in '{m}"
         for name, m, _, _ in theirs]
zel_script("theirs", "\n".join(lines) + "\n")
for name, m, packed, data in theirs:
    try:
        with open(path(name + ".out"), "rb") as f:
            check(f.read() == data, f"{name}: ours read back other bytes")
    except OSError:
        check(False, f"{name}: not decompressed")

# ---- damaged input ------------------------------------------------------------------------------
good = {m: zlib.compressobj(6, zlib.DEFLATED, wbits).compress(INPUTS["text"][:20000])
        for m, wbits in WBITS.items()}
for m, wbits in WBITS.items():
    c = zlib.compressobj(6, zlib.DEFLATED, wbits)
    good[m] = c.compress(INPUTS["text"][:20000]) + c.flush()
bad = []
for m, packed in good.items():
    for cut in (1, 2, 5, len(packed) // 2, len(packed) - 1):
        bad.append((m, packed[:cut]))
    for _ in range(15):
        damaged = bytearray(packed)
        for _ in range(rng.randrange(1, 4)):
            i = rng.randrange(len(damaged))
            damaged[i] ^= 1 << rng.randrange(8)
        bad.append((m, bytes(damaged)))
bad.append(("zlib", bytes([0x78, 0xBB]) + good["zlib"][2:]))  # preset dictionary flag
bad.append(("gzip", good["gzip"][:17]))
bad.append(("deflate", bytes([0x07])))  # block type 3
bad.append(("deflate", bytes([0x01, 0x05, 0x00, 0xFA, 0xFF, 0x61])))  # stored, 5 said, 1 there
bad.append(("deflate", bytes([0x01, 0x01, 0x00, 0x00, 0x00, 0x61])))  # stored, bad complement
# Every one must be refused, or, where a flipped bit still gives a valid stream, give what
# zlib gives.
lines = ["foreach [m data] ["]
lines += [f"  {m} #{{{d.hex()}}}" for m, d in bad]
lines += ["] [",
          "  r: try [decompress data m]",
          "  print either error? r [r/id] [enbase/base r 16]",
          "]"]
out = zel_script("damaged", "\n".join(lines) + "\n")
check(len(out) == len(bad), f"damaged: {len(bad)} results, got {len(out)}")
for (m, d), line in zip(bad, out):
    try:
        expected = zlib.decompress(d, WBITS[m]).hex().upper()
    except zlib.error:
        expected = "invalid-data"
    if m == "deflate" and expected != "invalid-data":
        # zlib takes an unfinished raw stream from decompress(); ours must refuse it then.
        dc = zlib.decompressobj(-15)
        dc.decompress(d)
        if not dc.eof:
            expected = "invalid-data"
    check(line == expected, f"damaged {m} {d[:12].hex()}...: expected {expected[:40]}, got {line[:40]}")

# The refinements and the errors of the natives themselves.
out = zel_script("natives", """
print to string! decompress compress "héllo" 'gzip 'gzip
print to string! decompress/size compress "abc" 'zlib 'zlib 1
print to string! decompress/size compress "abc" 'deflate 'deflate 100
print to string! decompress compress %file-name 'zlib 'zlib
print #{1F8B08} = compress #{1F8B08} 'gzip
r: try [compress "x" 'lzma] print r/id
r: try [decompress #{} 'zip] print r/id
""")
check(out[:4] == ["héllo", "abc", "abc", "file-name"], f"natives: {out[:4]}")
check(out[4] == "false", f"gzip of gzip-looking data compresses it again: {out[4:5]}")
check(out[5:7] == ["invalid-arg", "invalid-arg"], f"unknown methods: {out[5:]}")

finish()
