local n = 0
for i = 1, 2000 do
    for j = 1, 2000 do
        if j > i then break end
        if j % 2 == 0 then n = n + 1 else n = n + 2 end
    end
end
local b = {}
for i = 1, 1000000 do b[#b + 1] = i end
for _, x in ipairs(b) do
    if x > 500000 then n = n + 1 end
end
print(n)
