b = []
for i in range(1, 1000001):
    b.append(i)
s = 0
for i in range(1, 1000001):
    s = s + b[i - 1]
print(s)
