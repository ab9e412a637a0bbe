import hashlib

one = bytes(range(16))
for _ in range(16):
    one = one + one
data = one * 100
for _ in range(10):
    d = hashlib.sha256(data).digest()
print(len(d), d[0], d[-1])
