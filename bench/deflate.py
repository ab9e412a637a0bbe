import zlib

words = ["the", "value", "block", "series", "of", "and", "compress", "word", "to", "a", "function",
         "context", "is", "in", "map", "binary"]
seed = 1
parts = []
n = 0
while n < 110000:
    seed = (seed * 75 + 74) % 65537
    w = words[seed % 16] + (". " if seed % 7 == 0 else " ")
    if seed % 5 == 0:
        w += str(seed)
    if seed % 13 == 0:
        w += "\n"
    parts.append(w)
    n += len(w)
one = "".join(parts).encode()
data = one * 100
packed = zlib.compress(data, 6)
back = zlib.decompress(packed)
print(len(data), "true" if data == back else "false")
