for _ = 1, 10000000 do local s = string.sub("some text", 1) end
for _ = 1, 1000000 do local o = {a = 1} end
print("done")
