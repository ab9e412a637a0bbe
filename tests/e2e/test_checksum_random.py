"""Checksums and the random generator against independent oracles: CRC-32 and Adler-32 against
zlib, the Internet checksum against an unbounded-integer RFC 1071 sum, digests and HMACs against
hashlib and hmac, on random inputs from 0 bytes to 1 MB read as binary!, as a file and as text;
the generator against a model of its algorithm (signed 32-bit Mersenne Twister, no twist after
seeding) over the first thousand draws after several seeds, and the range draws built on it."""
import hashlib
import hmac
import os
import random
import tempfile
import zlib

from zeltest import run, check, finish

tmp = tempfile.mkdtemp(prefix="zel-checksum-")
rng = random.Random(20240517)


def run_script(name, text):
    path = os.path.join(tmp, name)
    with open(path, "w", encoding="utf-8") as f:
        f.write("Zel []\n" + text)
    r = run([path], env={"HOME": tmp}, timeout=120)
    out = r.stdout.decode("utf-8", "replace")
    check(r.returncode == 0, f"{name}: exit 0, got {r.returncode}: {out[-300:]!r} "
          f"{r.stderr.decode('utf-8', 'replace')[-300:]!r}")
    return out.splitlines()


def signed32(v):
    return v - (1 << 32) if v >= 1 << 31 else v


def internet(data):
    total = sum(int.from_bytes(data[i:i + 2].ljust(2, b"\0"), "big")
                for i in range(0, len(data), 2))
    while total >> 16:
        total = (total >> 16) + (total & 0xFFFF)
    return ~total & 0xFFFF


# ---- checksums ---------------------------------------------------------------------------------

DIGESTS = ["md5", "sha1", "sha256", "sha384", "sha512"]
# Around the 64- and 128-byte digest blocks, the 16/64-byte CRC folding steps, Adler-32's
# 3854-byte blocks, and past 128 KiB, where a 32-bit Internet checksum sum would overflow.
SIZES = [0, 1, 3, 15, 16, 17, 55, 56, 63, 64, 65, 79, 127, 128, 129, 191, 3853, 3854, 3855,
         5552, 128 * 1024 + 1, 1 << 20]
HMAC_SIZES = {0, 1, 55, 56, 64, 65, 128 * 1024 + 1, 1 << 20}
KEY_SIZES = [0, 3, 64, 65, 128, 129, 200]

inputs = []
for n in SIZES:
    inputs.append((f"random {n}", rng.randbytes(n)))
# Every 16-bit word 0xFFFF: the largest sum for its length.
inputs.append(("ones 200K", b"\xff" * (200 * 1024 + 1)))
keys = {k: rng.randbytes(k) for k in KEY_SIZES}

lines = []
for i, (label, data) in enumerate(inputs):
    path = os.path.join(tmp, f"in{i}.bin")
    with open(path, "wb") as f:
        f.write(data)
    lines.append(f"d: read/binary %{path}")
    for m in ["crc32", "adler32", "tcp"]:
        lines.append(f"print checksum d '{m}")
    for m in DIGESTS:
        lines.append(f"print mold/flat checksum d '{m}")
    lines.append(f"print mold/flat checksum %{path} 'sha256")
    if len(data) in HMAC_SIZES:
        for m in DIGESTS:
            for k in KEY_SIZES:
                lines.append(f"print mold/flat checksum/with d '{m} #{{{keys[k].hex()}}}")


def expected_for(data):
    want = [str(signed32(zlib.crc32(data))), str(signed32(zlib.adler32(data))),
            str(internet(data))]
    want += ["#{" + hashlib.new(m, data).hexdigest().upper() + "}" for m in DIGESTS]
    want.append("#{" + hashlib.sha256(data).hexdigest().upper() + "}")
    if len(data) in HMAC_SIZES:
        want += ["#{" + hmac.new(keys[k], data, m).hexdigest().upper() + "}"
                 for m in DIGESTS for k in KEY_SIZES]
    return want


got = run_script("checksums.zel", "\n".join(lines) + "\n")
at = 0
for label, data in inputs:
    want = expected_for(data)
    part = got[at:at + len(want)]
    at += len(want)
    bad = [j for j, (g, w) in enumerate(zip(part, want)) if g != w]
    check(len(part) == len(want) and not bad,
          f"checksums of {label}: first mismatch at item {bad[:1] or len(part)}: "
          f"{part[bad[0]] if bad else ''} vs {want[bad[0]] if bad else ''}")

# Text is hashed as UTF-8, a text key too.
text = "".join(rng.choice("aé€𝄞 \n") for _ in range(5000))
tpath = os.path.join(tmp, "text.txt")
with open(tpath, "w", encoding="utf-8", newline="") as f:
    f.write(text)
got = run_script("text.zel", f"t: read %{tpath}\nprint checksum t 'crc32\n"
                 f"print mold/flat checksum/with t 'sha512 \"clé\"\n")
tb = text.encode()
check(got == [str(signed32(zlib.crc32(tb))),
              "#{" + hmac.new("clé".encode(), tb, "sha512").hexdigest().upper() + "}"],
      f"string data and key as UTF-8: {got!r}")


# ---- random generator --------------------------------------------------------------------------

def s32(x):
    x &= 0xFFFFFFFF
    return x - (1 << 32) if x & 0x80000000 else x


class Model:
    """The generator as its algorithm reads: signed 32-bit words, arithmetic right shifts, and
    the seeded words tempered before the first regeneration."""

    def seed(self, v):
        st = [s32(v)]
        for i in range(1, 624):
            p = st[i - 1]
            st.append(s32((p ^ (p >> 30)) * 1812433253 + i))
        self.st, self.i = st, 0

    def draw(self):
        st = self.st
        if self.i == 624:
            for k in range(624):
                y = s32((st[k] & 0x80000000) | (st[(k + 1) % 624] & 0x7FFFFFFF))
                v = st[(k + 397) % 624] ^ (y >> 1)
                if y & 1:
                    v ^= s32(0x9908B0DF)
                st[k] = s32(v)
            self.i = 0
        y = st[self.i]
        self.i += 1
        y ^= y >> 11
        y ^= s32((y << 7) & 0x9D2C5680)
        y ^= s32((y << 15) & 0xEFC60000)
        y ^= y >> 18
        return y

    def int_range(self, n):
        if n == 0:
            return 0
        if n == -(1 << 31):
            return ~self.draw()
        m = abs(n)
        limit = (2147483647 // m) * m
        while True:
            d = self.draw()
            if d < limit:
                break
        return d % m + 1 if n > 0 else -(d % m + 1)


model = Model()
model.seed(19650218)
check([model.draw() for _ in range(3)] == [1573102752, 2054623780, 1026451266],
      "the model gives the generator's known first draws")

SEEDS = [19650218, 0, 1, 42, -1, 5489, 2147483647, -2147483647]
script = []
for s in SEEDS:
    script.append(f"random/seed {s} out: copy [] loop 1000 [append out random 2147483647] "
                  "print mold/flat out")
got = run_script("draws.zel", "\n".join(script) + "\n")
for s, line in zip(SEEDS, got):
    model.seed(s)
    want = [model.int_range(2147483647) for _ in range(1000)]
    check(line == "[" + " ".join(map(str, want)) + "]",
          f"first 1000 draws after seeding with {s}")
check(len(got) == len(SEEDS), f"one line per seed: {len(got)}")

# The range draws built on the generator, one after the other from one seed: integers of both
# signs (with rejection for ranges that do not divide 2^31 - 1, and the most negative integer),
# logic, float, pair and tuple.
RANGES = [10, -10, 3, 1, 1000000007, 1073741825, -2147483647]
script = ["random/seed 99", "out: copy []"]
for n in RANGES:
    script.append(f"loop 300 [append out random {n}]")
script += ["loop 300 [append out random (-2147483647 - 1)]",
           "loop 300 [append out random true]",
           "loop 300 [append out random 1.0]",
           "loop 300 [append out random 1000x-7]",
           "loop 300 [append out random 255.16.0.1]",
           "print mold/flat out"]
got = run_script("ranges.zel", "\n".join(script) + "\n")
model.seed(99)
want = []
for n in RANGES:
    want += [str(model.int_range(n)) for _ in range(300)]
want += [str(model.int_range(-(1 << 31))) for _ in range(300)]
want += ["true" if model.draw() > 0x3FFFFFFF else "false" for _ in range(300)]
floats = [model.draw() / 2147483647.0 for _ in range(300)]
want += [f"{model.int_range(1000)}x{model.int_range(-7)}" for _ in range(300)]
want += [".".join(str(model.int_range(e + 1) - 1) for e in (255, 16, 0, 1)) for _ in range(300)]
items = got[0].strip("[]").split(" ") if got else []
fstart = len(RANGES) * 300 + 600
got_floats = items[fstart:fstart + 300]
check(items[:fstart] + items[fstart + 300:] == want,
      "integer, logic, pair and tuple draws follow the model")
check(len(got_floats) == 300 and all(float(g) == w for g, w in zip(got_floats, floats)),
      "float draws follow the model")
coin = want[fstart - 300:fstart]
check(120 < coin.count("true") < 180, f"logic draws are a fair coin: {coin.count('true')}/300")

finish()
