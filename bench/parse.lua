local line = "The quick brown fox jumps over the lazy dog, 12 times; then it naps!\n"
local text = string.rep(line, 16000)
local words = {}
for w in text:gmatch("%a+") do
    words[#words + 1] = w
end
local n = 0
for _, w in ipairs(words) do
    n = n + #w
end
print(#words .. " " .. n)
