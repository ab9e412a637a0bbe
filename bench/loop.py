n = 0
i = 0
while i < 10000000:
    n = n + (i % 7)
    i = i + 1
print(n)
