n = 0
for i in range(1, 2001):
    for j in range(1, 2001):
        if j > i:
            break
        if j % 2 == 0:
            n = n + 1
        else:
            n = n + 2
b = []
for i in range(1, 1000001):
    b.append(i)
for x in b:
    if x > 500000:
        n = n + 1
print(n)
