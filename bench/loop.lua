local n, i = 0, 0
while i < 10000000 do n = n + (i % 7); i = i + 1 end
print(n)
