local b = {}
for i = 1, 1000000 do b[#b + 1] = i end
local s = 0
for i = 1, 1000000 do s = s + b[i] end
print(s)
