parts = []
for i in range(1, 300001):
    parts.append("item")
    parts.append(str(i))
    parts.append(",")
s = "".join(parts)
pieces = s.split(",")
n = 0
for p in pieces:
    n = n + len(p)
print(len(s), len(pieces), n)
