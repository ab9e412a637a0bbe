import zlib

one = bytes(range(16))
for _ in range(16):
    one = one + one
data = one * 100
for _ in range(10):
    c = zlib.crc32(data)
# integer! is 32-bit: the same bits read signed.
print(c - (1 << 32) if c >= 1 << 31 else c)
